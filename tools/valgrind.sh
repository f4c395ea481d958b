#!/bin/sh
# valgrind.sh [BUILD_DIR]: runs the host test programs under valgrind's memcheck and fails on
# any memory error or leak. BUILD_DIR is a plain host build (default build/host), not a
# sanitizer one. Every test runs, the stress test and the timed close tests included: on this
# machine they keep their bounds under valgrind (about 30 s in all).
set -eu
bin=${1:-build/host}/bin
status=0
for program in voxcap_tests appshare_tests; do
  echo "valgrind: $program"
  valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$bin/$program" --gtest_brief=1 || status=1
done
exit $status
