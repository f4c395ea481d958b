#!/bin/bash
# bullseye.sh [--java 17|11] --check | COMMAND...
# debian-root.sh for Debian 11 (bullseye: glibc 2.31, the GCC 10 C++ runtime, OpenJDK 17 by
# default), the oldest distribution our Linux natives are tried on.
exec "$(dirname "$0")/debian-root.sh" bullseye "$@"
