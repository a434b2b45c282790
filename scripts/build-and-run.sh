#!/bin/sh
# Builds hwidtool in ./build (installing what the build needs) and runs it.
# Arguments are passed on to hwidtool.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh cmake make g++ libpystring-dev
cmake -S . -B build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target hwidtool >/dev/null
exec build/linux/cli/hwidtool "$@"
