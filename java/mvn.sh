#!/bin/sh
# Runs Debian's Maven without a network: plugins and test libraries come from Debian's packaged
# repository (/usr/share/maven-repo, see maven-settings.xml), into a local repository of the
# build's own, $M2 (default build/m2 of the project).
#   java/mvn.sh MAVEN_ARGUMENTS...
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec mvn -B -s "$here/maven-settings.xml" -Dmaven.repo.local="${M2:-$here/../build/m2}" "$@"
