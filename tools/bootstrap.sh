#!/bin/sh
# Installs what building and testing need on Debian 12, as root. Quick when all is present.
# Says on one line each what it could not refresh, what it pinned and what it skipped, and why.
#
# What the package mirror does, seen on fresh machines of ours:
# - It can be half-synced for a day: one index of one suite (bookworm-security's i386 list) fails
#   with "File has unexpected size ... Mirror sync in progress?" however often it is asked, while
#   the rest comes. apt keeps none of that suite's new lists then, for any architecture.
# - A library that is Multi-Arch: same must have one version on every architecture. With the
#   amd64 candidates from bookworm-security and the i386 ones from bookworm alone, wine32:i386
#   ends in "held broken packages". So a suite that lacks a list for one of our architectures, or
#   could not be refreshed, is pinned below the others for this install (a preferences file of
#   this run's own, given to apt on its command line: nothing is left in apt's settings), and every
#   architecture takes the same suites' versions.
# - The pin is for the foreign architectures' sake. The amd64 packages that building needs come
#   first without it where the pinned install fails: their -dev packages must match the libraries
#   installed from that suite (zlib1g-dev, on an image upgraded from bookworm-security).
# - An amd64 library already installed from that suite has no twin then. For an optional part
#   only, apt may go back to the version every architecture has; where even that cannot be (a
#   held package), the part is skipped, and the steps that need it say so.
# - Another apt (an unattended upgrade, a user's install) may hold the package manager's lock for
#   minutes: it is waited for, up to 10 minutes.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/packages.sh"

# What it says goes to the caller's standard error, even from inside a logged command.
exec 3>&2
say() { echo "bootstrap: $*" >&3; }

# shellcheck disable=SC2086 # lists of package names
missing=$(missing_packages $required_packages)
parts=""
for part in $optional_parts; do
  # shellcheck disable=SC2046
  [ -z "$(missing_packages $(part_packages "$part"))" ] || parts="$parts $part"
done
[ -z "$missing$parts" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  if [ -n "$missing" ]; then
    say "missing packages:$missing; run 'make' as root, or install them"
    exit 1
  fi
  for part in $parts; do say "skipped $(part_title "$part"): not installed, and installing it takes root"; done
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DEBIAN_FRONTEND=noninteractive
lock_wait=600

# lock_holder: the process that holds one of the package manager's locks, if any ("apt-get (pid
# 1234)"); status 1 when none does. The locks are fcntl locks, listed in /proc/locks by device
# and inode.
lock_holder() {
  for lock in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock; do
    [ -e "$lock" ] || continue
    # shellcheck disable=SC2046 # major, minor and inode
    file=$(printf '%02x:%02x:%s' $(stat -c '%Hd %Ld %i' "$lock"))
    pid=$(awk -v file="$file" '$(NF-2) == file && $(NF-3) ~ /^[0-9]+$/ { print $(NF-3); exit }' /proc/locks)
    [ -n "$pid" ] || continue
    echo "$(cat "/proc/$pid/comm" 2>/dev/null || echo a process) (pid $pid)"
    return 0
  done
  return 1
}

wait_for_package_manager() {
  waited=0
  while holder=$(lock_holder); do
    if [ $waited -ge $lock_wait ]; then
      say "gave up: $holder still holds the package manager's lock after $((lock_wait / 60)) minutes"
      exit 1
    fi
    [ $waited -gt 0 ] || say "waiting for the package manager's lock, held by $holder (up to $((lock_wait / 60)) minutes)"
    sleep 2
    waited=$((waited + 2))
  done
}

# apt-get with this run's preferences, waiting for the lock (apt too waits, for a lock taken
# between our look and its start).
prefs=$work/preferences
if [ -f /etc/apt/preferences ]; then cp /etc/apt/preferences "$work/unpinned"; else : >"$work/unpinned"; fi
cp "$work/unpinned" "$prefs"
apt_get() {
  wait_for_package_manager
  apt-get -o DPkg::Lock::Timeout=$lock_wait -o Dir::Etc::Preferences="$prefs" "$@"
}

# An install that was stopped half-way (a machine shut down, a run killed) blocks every later one
# until dpkg finishes it.
if [ -n "$(dpkg --audit 2>/dev/null)" ]; then
  wait_for_package_manager
  say "an earlier install was stopped half-way; finishing it (dpkg --configure -a)"
  dpkg --configure -a --force-confdef --force-confold >"$work/configure.log" 2>&1 </dev/null || { tail -n 25 "$work/configure.log" >&2; exit 1; }
fi

for arch in i386 arm64; do
  dpkg --print-foreign-architectures | grep -qx $arch || dpkg --add-architecture $arch
done

for try in 1 2 3; do
  apt_get update -q >"$work/update.log" 2>&1 && break
  [ $try = 3 ] || { say "apt-get update failed; again in 10 s"; sleep 10; }
done
stale=$(sed -n 's|^[EW]: Failed to fetch .*/dists/\([^/]*\)/.*|\1|p' "$work/update.log" | sort -u)
for suite in $stale; do
  say "could not refresh $suite: $(sed -n "s|^[EW]: Failed to fetch .*/dists/$suite/\([^ ]*\)  *\(.*\)|\1: \2|p" "$work/update.log" | head -n 1)"
done

# The suites that cannot give every architecture the same versions: those that could not be
# refreshed, and those that lack a package list for one of our architectures. A suite is told by
# its label and codename: another source's "bookworm" (a vendor's, for amd64 alone) is not
# Debian's. pin_record LABEL|CODENAME PRIORITY writes its preferences record.
archs="$(dpkg --print-architecture) $(dpkg --print-foreign-architectures | tr '\n' ' ')"
apt-get indextargets --format '$(LABEL)|$(CODENAME)|$(RELEASE)|$(COMPONENT)|$(ARCHITECTURE)' 'Identifier: Packages' |
  sort -u >"$work/lists"
cut -d '|' -f 1,2 "$work/lists" | sort -u >"$work/suites"
pin_record() {
  label=${1%%|*} codename=${1#*|}
  printf '\nPackage: *\nPin: release %sn=%s\nPin-Priority: %s\n' "${label:+l=$label,}" "$codename" "$2"
}
pinned=""
while IFS= read -r suite; do
  lacks=""
  for component in $(awk -F '|' -v s="$suite" '$1 "|" $2 == s { print $4 }' "$work/lists" | sort -u); do
    for arch in $archs; do
      awk -F '|' -v s="$suite" -v c="$component" -v a="$arch" '$1 "|" $2 == s && $4 == c && $5 == a { found = 1 } END { exit !found }' "$work/lists" ||
        lacks="$lacks $arch"
    done
  done
  refreshed=yes
  for r in $stale; do awk -F '|' -v s="$suite" -v r="$r" '$1 "|" $2 == s && $3 == r { found = 1 } END { exit !found }' "$work/lists" && refreshed=no; done
  [ -n "$lacks" ] || [ $refreshed = no ] || continue
  pin_record "$suite" 100 >>"$prefs"
  pinned="$pinned ${suite#*|}"
  why=
  [ $refreshed = yes ] || why="could not be refreshed"
  [ -z "$lacks" ] || why="${why:+$why and }has no package list for$(echo "$lacks" | tr ' ' '\n' | sort -u | tr '\n' ' ' | sed 's/ $//')"
  say "pinned ${suite#*|} below the other suites for this install: it $why, so its versions could differ between architectures"
done <"$work/suites"
# A suite that could not be refreshed and has no lists left gives no candidates now, but what was
# installed from it earlier has none of its twins.
for r in $stale; do
  awk -F '|' -v r="$r" '$3 == r { found = 1 } END { exit !found }' "$work/lists" && continue
  pin_record "|$r" 100 >>"$prefs"
  pinned="$pinned $r"
  say "pinned $r below the other suites for this install: it could not be refreshed and has no package lists"
done

# apt_install LOG PACKAGE...: apt-get install, its output in LOG.
apt_install() {
  out=$1
  shift
  apt_get install -y -q --no-install-recommends -o Dpkg::Options::=--force-confdef \
    -o Dpkg::Options::=--force-confold "$@" >"$out" 2>&1 </dev/null
}

part_list=""
for part in $parts; do part_list="$part_list $(part_packages "$part")"; done
say "installing$missing$part_list"
# shellcheck disable=SC2086
if apt_install "$work/install.log" $missing $part_list; then
  for part in $parts; do rm -f "$parts_dir/$part" "$parts_dir/$part".log.*; done
  exit 0
fi
# Unpinned first: what building needs, then each optional part, which may need the pin, and then
# may need to take a library back to the version that every architecture has.
cp "$prefs" "$work/pinned"
cp "$work/pinned" "$work/fallback"
while IFS= read -r suite; do
  case " $pinned " in *" ${suite#*|} "*) ;; *) pin_record "$suite" 1001 ;; esac
done <"$work/suites" >>"$work/fallback"

if [ -n "$missing" ]; then
  cp "$work/unpinned" "$prefs"
  # shellcheck disable=SC2086
  apt_install "$work/required.log" $missing || {
    tail -n 25 "$work/required.log" >&2
    say "could not install what building needs:$missing"
    exit 1
  }
fi

mkdir -p "$parts_dir"
for part in $parts; do
  log=$parts_dir/$part.log
  installed=
  for how in unpinned pinned fallback; do
    cp "$work/$how" "$prefs"
    # An optional part never takes away what is installed.
    # shellcheck disable=SC2046
    if apt_install "$log.$how" --no-remove $([ $how != fallback ] || echo --allow-downgrades) $(part_packages "$part"); then
      installed=$how
      break
    fi
  done
  if [ -n "$installed" ]; then
    if [ $installed = fallback ]; then
      older=$(awk '/^The following packages will be DOWNGRADED:/ { on = 1; next } on && /^ / { printf "%s", $0; next } { on = 0 }' "$log.$installed")
      say "installed $(part_title "$part"), going back to the version that every architecture has of:$older"
    fi
    rm -f "$parts_dir/$part" "$log".*
    continue
  fi
  # What the last try said is the reason: it came closest.
  last=$log.fallback
  error=$(grep -m 1 '^E: ' "$last" | sed 's/^E: //') || true
  unmet=$(grep -m 1 -A 1 'have unmet dependencies' "$last" | tail -n 1 | sed 's/^ *//; s/  */ /g') || true
  held=$(apt-mark showhold | tr '\n' ' ' | sed 's/ $//')
  echo "$(part_title "$part") could not be installed from this machine's package mirror (apt-get: ${error:-failed}${unmet:+; $unmet}${held:+; held here: $held}; see $last)" >"$parts_dir/$part"
  say "$(cat "$parts_dir/$part"); the steps that need it will say they were skipped"
done

# shellcheck disable=SC2086
missing=$(missing_packages $required_packages)
[ -z "$missing" ] || { say "what building needs is no longer all installed:$missing"; exit 1; }
