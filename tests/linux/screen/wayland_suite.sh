#!/bin/bash
# wayland_suite.sh BUILD_DIR: the Wayland screen tests, each group in a headless desktop of its
# own (tests/env/devices.sh --wayland), since one portal session serves a whole process and the
# faults end the desktop. Ends with a "N passed, N failed, N skipped" line.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tests=$1/bin/linux_wayland_tests
passed=0 failed=0
source "$here/../../../tools/packages.sh"
if reason=$(part_missing wayland); then
  echo "SKIPPED the Wayland screen tests: $reason"
  echo "0 passed, 0 failed, 1 skipped"
  exit 0
fi

# run FILTER [devices.sh options]
run() {
  local filter=$1
  shift
  if "$here/../../env/devices.sh" --screen 1280x720x24 --wayland '#ff8000' "$@" -- \
       "$tests" --gtest_filter="$filter"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "wayland_suite: FAILED $filter $*" >&2
  fi
}

run 'WaylandGrab.*:MonitorFrames.*'
run 'WaylandTwoOutputs.*'
run 'WaylandScaled.*'
run 'WaylandFaults.NoPortalOnTheBus'
run 'WaylandFaults.APortalWithoutScreenCast' --screencast none
run 'WaylandFaults.TheUserDeclines' --screencast decline
run 'WaylandFaults.AGarbledRestoreToken'
run 'WaylandFaults.AForgerOnTheBusChangesNothing'
run 'WaylandFaults.TheCompositorGoingAway'
run 'WaylandFaults.TheOutputChangingSize'
echo "$passed passed, $failed failed, 0 skipped"
[ "$failed" -eq 0 ]
