#!/bin/sh
# Prints the version of everything built from the sources in SOURCE_DIR
# (default: this checkout), as project() in its CMakeLists.txt states it:
# the one place it is written.
#
# Usage: scripts/version.sh [SOURCE_DIR]
src=${1:-$(dirname "$0")/..}
version=$(sed -n 's/^project(hwid VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "no project(hwid VERSION ...) in $src/CMakeLists.txt" >&2; exit 1; }
echo "$version"
