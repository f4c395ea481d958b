#!/bin/bash
# wayland_suite.sh BUILD_DIR: the Wayland screen tests, each group in a headless desktop of its
# own (tests/env/devices.sh --wayland), since one portal session serves a whole process and the
# faults end the desktop. Ends with a "N passed, N failed, N skipped" line.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$1/bin
passed=0 failed=0
source "$here/../../../tools/packages.sh"
if reason=$(part_missing wayland); then
  echo "SKIPPED the Wayland screen tests: $reason"
  echo "0 passed, 0 failed, 1 skipped"
  exit 0
fi

# run SOURCE FILTER [devices.sh options]: the tests of linux_wayland_tests that FILTER names,
# or with FILTER "microphone" the screen shared while the microphone records. SOURCE is
# screencopy, which sway's clients get, or portal, asked for with ORVANTA_SCREEN_SOURCE.
run() {
  local source=$1 group=$2 filter=$2 choice=(-u ORVANTA_SCREEN_SOURCE) tests=$bin/linux_wayland_tests
  shift 2
  [ "$group" = microphone ] && tests=$bin/linux_screen_and_microphone_tests filter='*'
  [ "$source" = portal ] && choice=(ORVANTA_SCREEN_SOURCE=portal)
  if "$here/../../env/devices.sh" --screen 1280x720x24 --wayland '#ff8000' "$@" -- \
       env "${choice[@]}" "$tests" --gtest_filter="$filter"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "wayland_suite: FAILED $source $group $*" >&2
  fi
}

run screencopy 'WaylandScreencopy.AStillScreen*'
run screencopy 'WaylandGrab.ReadsAKnownPicture*:WaylandGrab.LeavesBlack*:WaylandGrab.SeveralThreads*'
run screencopy 'WaylandScreencopy.OutputsOfMixedScales*:WaylandScaled.*'
run screencopy 'WaylandScreencopy.TurnedOutputs*'
run screencopy 'WaylandScreencopy.AStalledCompositor*:WaylandScreencopy.TheCompositorGoingAway'
run screencopy microphone
run portal microphone
run portal 'WaylandGrab.*:MonitorFrames.*'
run portal 'WaylandTwoOutputs.*'
run portal 'WaylandScaled.*'
run portal 'WaylandFaults.NoPortalOnTheBus'
run portal 'WaylandFaults.APortalWithoutScreenCast' --screencast none
run portal 'WaylandFaults.TheUserDeclines' --screencast decline
run portal 'WaylandFaults.AGarbledRestoreToken'
run portal 'WaylandFaults.AForgerOnTheBusChangesNothing'
run portal 'WaylandFaults.TheCompositorGoingAway'
run portal 'WaylandFaults.TheOutputChangingSize'
echo "$passed passed, $failed failed, 0 skipped"
[ "$failed" -eq 0 ]
