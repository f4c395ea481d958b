#!/bin/bash
# run.sh [HOST_BUILD] [WIN32_BUILD] [WIN64_BUILD] [WIN_ARM64_BUILD]: runs the host benchmarks and the JVM hand-over
# benchmark on the host build (default build/host), the Java-side and close benchmarks on the Linux
# build ($LINUX_BUILD, default build/linux) in tests/env/devices.sh, the screen grab benchmarks of
# that build at three screen sizes, and the Wine benchmark of each
# Windows build (default build/win32, "x86", build/win64, "x86-64", and build/win-arm64, "arm64",
# on arm64 Wine emulated by qemu, so its figures are the emulator's) in tests/wine/env.sh; then
# prints the figures table with the machine it was measured on. A build that is missing, an x86
# one where this machine cannot run x86 programs, or an arm64 one where arm64 Wine cannot be had,
# leaves its rows out, and the table says why.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/wine/loader.sh"
. "$root/tools/packages.sh"
host=${1:-$root/build/host}
win32=${2:-$root/build/win32}
win64=${3:-$root/build/win64}
win_arm64=${4:-$root/build/win-arm64}
linux=${LINUX_BUILD:-$root/build/linux}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# show NAME COMMAND...: runs COMMAND, showing its output and keeping it as NAME.txt; on failure
# the end of what it wrote to stderr shows.
show() {
  local name=$1
  shift
  "$@" 2>"$out/$name.err" | tr -d '\r' | tee "$out/$name.txt" || { tail -n 20 "$out/$name.err" >&2; exit 1; }
}

"$host/bin/voxcap_bench" --benchmark_out="$out/host.json" --benchmark_out_format=json
show handover "$root/java/bench/run.sh" "$host" com.velk.orvanta.content.client.audio.HandOverBench \
  "$root/java/bench/HandOverBench.java" "$root/java/tests/com/velk/orvanta/content/client/audio/SimulatedMachine.java"
if [ -f "$linux/java/orvanta_classes.jar" ]; then
  show javaside "$root/tests/env/devices.sh" --tone 7 -- "$root/java/bench/run.sh" "$linux" JavaSideBench \
    "$root/java/bench/JavaSideBench.java"
  show javaclose "$root/tests/env/devices.sh" --tone 7 -- "$root/java/bench/run.sh" "$linux" CloseBench \
    "$root/java/bench/CloseBench.java"
else
  : >"$out/javaside.txt"
  : >"$out/javaclose.txt"
fi
# The grab at each size: the backend against a bare MIT-SHM read, the Java side against Robot.
grab_sizes="1024x768 1920x1080 3840x2160"
for size in $grab_sizes; do
  : >"$out/linux-grab-$size.txt"
  : >"$out/java-grab-$size.txt"
  if [ -x "$linux/bin/screen_bench" ]; then
    show "linux-grab-$size" "$root/bench/linux/screen_bench.sh" "$linux" "$size"
  fi
  if [ -f "$linux/java/orvanta_classes.jar" ]; then
    show "java-grab-$size" "$root/tests/env/devices.sh" --no-sound --screen "${size}x24" -- \
      "$root/java/bench/run.sh" "$linux" ScreenGrabBench "$root/java/bench/ScreenGrabBench.java" \
      "$root/java/bench/Medians.java"
  fi
done
# The whole output of a Wayland desktop through each of its sources, against a bare copy of a frame:
# sway's screencopy, which its clients get, and the desktop portal, asked for.
for source in screencopy portal; do
  : >"$out/java-wayland-$source.txt"
  choice=(-u ORVANTA_SCREEN_SOURCE)
  [ "$source" = portal ] && choice=(ORVANTA_SCREEN_SOURCE=portal)
  if [ -f "$linux/java/orvanta_classes.jar" ] && reason=$(part_missing wayland); then
    echo "the Wayland rows: $reason" >>"$out/left-out.txt"
    break
  elif [ -f "$linux/java/orvanta_classes.jar" ]; then
    show "java-wayland-$source" "$root/tests/env/devices.sh" --no-sound --screen 1280x720x24 --wayland '#ff8000' -- \
      env "${choice[@]}" "$root/java/bench/run.sh" "$linux" WaylandGrabBench "$root/java/bench/WaylandGrabBench.java" \
      "$root/java/bench/Medians.java"
  fi
done
# arm64 comes last: from there on, WINE is arm64 Wine.
for arch in x86:"$win32" x86-64:"$win64" arm64:"$win_arm64"; do
  build=${arch#*:} arch=${arch%%:*}
  : >"$out/wine-$arch.txt"
  if [ ! -f "$build/bin/wine_bench.exe" ]; then
    echo "the Wine $arch rows: no build in $build" >>"$out/left-out.txt"
  elif [ "$arch" = x86 ] && [ -n "$WINE_X86_REFUSED" ]; then
    echo "the Wine $arch rows: $WINE_X86_REFUSED" >>"$out/left-out.txt"
  elif [ "$arch" = arm64 ] && ! use_wine_arm64; then
    echo "the Wine $arch rows: $WINE_ARM64_REFUSED" >>"$out/left-out.txt"
  else
    show "wine-$arch" "$root/tests/wine/env.sh" -- "$WINE" "$build/bin/wine_bench.exe"
  fi
done

machine="$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(. /etc/os-release && echo "$PRETTY_NAME")"
python3 - "$out" "$machine" $grab_sizes <<'PY'
import json, os, sys

# Repeated benchmarks count by their median; the others ran once.
host = {}
out = sys.argv[1]
for b in json.load(open(os.path.join(out, "host.json")))["benchmarks"]:
    if b.get("aggregate_name", "median") == "median":
        host[b["name"].split("/iterations")[0]] = b

# The other programs print "name key=value ..." lines.
def figures(name):
    found = {}
    for line in open(os.path.join(out, name + ".txt")):
        if "=" in line:
            key, *pairs = line.split()
            found[key] = dict(p.split("=", 1) for p in pairs if "=" in p)
    return found
handover, javaside = figures("handover"), figures("javaside")
javaclose = figures("javaclose")
wines = [(label, figures("wine-" + arch))
         for arch, label in (("x86", "x86"), ("x86-64", "x86-64"), ("arm64", "arm64, emulated by qemu"))]

def ns(name):
    b = host[name]
    return b["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]

rows = []
for size, label in ((1024, "1 KB"), (16384, "16 KB"), (65536, "64 KB")):
    call, copy, requeue = ns(f"ngetBufferAllReady/{size}"), ns(f"memcpyBaseline/{size}"), ns(f"memcpyAndRequeueBaseline/{size}")
    allocs = int(host[f"ngetBufferAllReady/{size}"]["allocations"])
    rows.append((f"ngetBuffer, every buffer ready, {label} (stand-in)", f"{call:,.0f} ns/call, {allocs} allocations",
                 f"memcpy {copy:,.0f} ns; memcpy + re-queue {requeue:,.0f} ns",
                 f"{call / copy:.2f}x memcpy; {call / requeue:.2f}x memcpy + re-queue",
                 "within 1.2x of memcpy at 64 KB; no allocation"))
w, e = host["wakeUpLatency"], host["eventWakeUpBaseline"]
rows.append(("Wake-up, buffer done to ngetBuffer returning (stand-in)",
             f"median {w['median_us']:.0f} µs, p99 {w['p99_us']:.0f} µs",
             f"bare event hand-over: median {e['median_us']:.0f} µs, p99 {e['p99_us']:.0f} µs",
             f"p99 {w['p99_us'] / e['p99_us']:.2f}x", "p99 under 1 ms"))
c, a = host["closeWithBlockedReader"], host["closeWithoutReaderBaseline"]
rows.append(("Close with a blocked reader, until both return (stand-in)",
             f"median {c['median_us'] / 1000:.1f} ms, max {c['max_us'] / 1000:.1f} ms",
             f"close, no reader: median {a['median_us'] / 1000:.2f} ms, max {a['max_us'] / 1000:.2f} ms", "", "under 50 ms"))

# Slowest open and close in ms, beside three busy captures and with none; every busy round is
# within the target when the slowest is.
def open_close_row(where, busy, alone):
    within = all(b <= 1.5 * a + 10 for b, a in zip(busy, alone))
    return (f"Open and close, 30 rounds beside three captures being read ({where})",
            f"open max {busy[0]:.1f} ms, close max {busy[1]:.1f} ms",
            f"no other capture: open max {alone[0]:.1f} ms, close max {alone[1]:.1f} ms",
            f"open {busy[0] / alone[0]:.2f}x, close {busy[1] / alone[1]:.2f}x; {'within' if within else 'NOT within'}",
            "every round within 1.5x of no other capture's slowest + 10 ms")
b, o = host["openCloseBesideThreeBusyCaptures"], host["openCloseAloneBaseline"]
rows.append(open_close_row("stand-in", (b["open_max_us"] / 1000, b["close_max_us"] / 1000),
                           (o["open_max_us"] / 1000, o["close_max_us"] / 1000)))

if "jvm" in handover:
    for size, label in ((1024, "1 KB"), (16384, "16 KB"), (65536, "64 KB")):
        h = handover[f"handover_{size}"]
        call, copy = float(h["ngetBuffer_ns"]), float(h["arraycopy_ns"])
        jvm = handover["jvm"]
        rows.append((f"Voxcap.ngetBuffer into a Java byte[], buffer ready, {label} ({jvm['vm'].replace('_', ' ')} {jvm['version']}, stand-in)",
                     f"{call:,.0f} ns/call", f"System.arraycopy into the same array {copy:,.0f} ns",
                     f"{call / copy:.2f}x", "within 1.2x at 64 KB"))

for size in sys.argv[3:]:
    native, java = figures("linux-grab-" + size), figures("java-grab-" + size)
    if "linux_grab_ratio" in native:
        g, b = native["linux_nGrabPixels"], native["linux_shm_get_image_kept"]
        rows.append((f"nGrabPixels, whole {size} screen (Linux backend, Xvfb)", f"median {float(g['median_ms']):.2f} ms",
                     f"xcb_shm_get_image into a kept segment: median {float(b['median_ms']):.2f} ms",
                     f"{float(native['linux_grab_ratio']['ratio']):.2f}x", "within 3x"))
    if "java_grab" in java:
        g = java["java_grab"]
        ours, into, robot = float(g["grab_ms"]), float(g["grab_into_ms"]), float(g["robot_ms"])
        robot_text = f"Robot.createScreenCapture: median {robot:.2f} ms"
        rows.append((f"ScreenCapture.grab(Rectangle, int[]), whole {size} screen (JVM, Linux backend, Xvfb)",
                     f"median {into:.2f} ms", robot_text, f"{into / robot:.2f}x", "at most 0.3x"))
        rows.append((f"ScreenCapture.grab(Rectangle), whole {size} screen (JVM, Linux backend, Xvfb)",
                     f"median {ours:.2f} ms", robot_text, f"{ours / robot:.2f}x", "at most 0.5x"))
    if size == "1920x1080" and "java_grab_window" in java and "linux_grab_window" in native:
        n, w = native["linux_grab_window"], java["java_grab_window"]
        rows.append((f"nGrabPixels, {n['width']}x{n['height']} rectangle of the {size} screen (Linux backend, Xvfb)",
                     f"median {float(n['median_ms']):.2f} ms, {n['per_second']} grabs/s",
                     f"xcb_shm_get_image of it: median {float(n['bare_median_ms']):.2f} ms", f"{float(n['ratio']):.2f}x", ""))
        rows.append((f"ScreenCapture.grab(Rectangle, int[]), {w['width']}x{w['height']} rectangle (JVM, Linux backend, Xvfb)",
                     f"median {float(w['grab_into_ms']):.2f} ms, {w['per_second']} grabs/s",
                     f"Robot: median {float(w['robot_ms']):.2f} ms, {w['robot_per_second']} grabs/s",
                     f"{float(w['grab_into_ms']) / float(w['robot_ms']):.2f}x", ""))
for source, through in (("screencopy", "sway's screencopy"), ("portal", "desktop portal")):
    wayland = figures("java-wayland-" + source)
    if "wayland_grab" not in wayland:
        continue
    g = wayland["wayland_grab"]
    into, fresh, copy = float(g["grab_into_ms"]), float(g["grab_ms"]), float(g["copy_ms"])
    copy_text = f"a bare copy of a {g['width']}x{g['height']} frame into a Java int[]: median {copy:.2f} ms"
    rows.append((f"ScreenCapture.grab(Rectangle, int[]), whole {g['width']}x{g['height']} output once started (JVM, Wayland, {through})",
                 f"median {into:.2f} ms (first grab {float(g['first_ms']):.0f} ms)", copy_text, f"{into / copy:.2f}x",
                 "within 2x; under 20 ms"))
    rows.append((f"ScreenCapture.grab(Rectangle), whole {g['width']}x{g['height']} output once started (JVM, Wayland, {through})",
                 f"median {fresh:.2f} ms", copy_text, f"{fresh / copy:.2f}x", "under 20 ms"))
if "java_line_voxcap" in javaside:
    def line(l):
        return (f"first bytes {float(l['first_ms']):.0f} ms after start; intervals min {float(l['interval_min_ms']):.0f}, "
                f"median {float(l['interval_median_ms']):.0f}, max {float(l['interval_max_ms']):.0f} ms")
    v, j = javaside["java_line_voxcap"], javaside.get("java_line_jdk", {})
    rows.append((f"Our TargetDataLine, {v['read_bytes']}-byte reads, 16 kHz mono 16-bit (JVM, PulseAudio source)", line(v),
                 "the JDK's own line, same source: " + (line(j) if "first_ms" in j else "not available"), "", ""))

for key, label in (("java_close_100", "100 ms buffers"), ("java_close_1000", "1 s buffers"),
                   ("java_close_silent_1000", "1 s buffers, source suspended")):
    if key in javaclose:
        c = javaclose[key]
        rows.append((f"AudioCapture.close() with a blocked reader, {label} (JVM, PulseAudio source)",
                     f"median {float(c['ours_median_ms']):.1f} ms, max {float(c['ours_max_ms']):.1f} ms",
                     f"the JDK's TargetDataLine.close(), same source: median {float(c['jdk_median_ms']):.1f} ms, "
                     f"max {float(c['jdk_max_ms']):.1f} ms", "", "under 20 ms"))

# Each Windows build's rows side by side, named by its architecture.
def wine_rows(arch, wine):
    found = {}
    if "median_ms" in wine.get("wine_close_with_blocked_reader", {}):
        c, a = wine["wine_close_with_blocked_reader"], wine["wine_close_without_reader"]
        found["close"] = (f"Close with a blocked reader, until both return (Wine {arch}, PulseAudio source)",
                          f"median {float(c['median_ms']):.1f} ms, max {float(c['max_ms']):.1f} ms",
                          f"close, no reader: median {float(a['median_ms']):.1f} ms, max {float(a['max_ms']):.1f} ms", "",
                          "under 300 ms")
    b, o = wine.get("wine_open_close_beside_three_busy", {}), wine.get("wine_open_close_alone", {})
    if "open_max_ms" in b and "open_max_ms" in o:
        found["open_close"] = open_close_row(f"Wine {arch}, PulseAudio source",
                                             (float(b["open_max_ms"]), float(b["close_max_ms"])),
                                             (float(o["open_max_ms"]), float(o["close_max_ms"])))
    elif b or o:
        found["open_close"] = (f"Open and close, 30 rounds beside three captures being read (Wine {arch})",
                               "failed: a capture did not open or a reader did not end", "", "",
                               "every round within 1.5x of no other capture's slowest + 10 ms")
    if "wine_grab_ratio" in wine:
        g, b, s = wine["wine_nGrabPixels"], wine["wine_bitblt_getdibits"], wine["wine_grab_screen"]
        d, r = wine["wine_grab_steps_directly"], wine["wine_grab_ratio"]
        found["grab"] = (f"nGrabPixels, whole {s['width']}x{s['height']} screen (Wine {arch}, Xvfb)", f"median {float(g['median_ms']):.2f} ms",
                         f"BitBlt + GetDIBits into a kept buffer: median {float(b['median_ms']):.2f} ms; "
                         f"the same per-call steps written out directly: median {float(d['median_ms']):.2f} ms",
                         f"{float(r['ratio']):.2f}x kept buffer; {float(r['steps_ratio']):.2f}x direct steps", "within 1.3x")
    return found
per_arch = [wine_rows(arch, wine) for arch, wine in wines]
for figure in ("close", "open_close", "grab"):
    rows.extend(found[figure] for found in per_arch if figure in found)

print(f"\nMachine: {sys.argv[2]}. Command: make bench (bench/run.sh).\n")
print("| Figure | Measured | Baseline, same run | Ratio | Target |")
print("|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
left_out = os.path.join(out, "left-out.txt")
if os.path.exists(left_out):
    print()
    for line in open(left_out):
        print("Left out: " + line.strip())
PY
