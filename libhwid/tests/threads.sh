#!/bin/sh
# Builds libhwid and threads.c with ThreadSanitizer, in a folder of its own,
# and runs threads.c against the library: every function from 8 threads at
# once, on this machine and on the fabricated machines of
# tests/system/machines.py, which have rows where this one may have none
# (there it is held to each machine's row count; HWIDTOOL is the hwidtool
# that machines.py runs beside it). Exit status 0 when every answer was
# right and no race was seen, 77 when that held here and machines.py
# skipped the fabricated machines (not root: its SKIP line says so),
# 1 otherwise (a build that fails included). Its lines and machines.py's
# count into the caller's $HWID_CHECKS (scripts/checks.sh), or a file of
# its own.
# Usage: libhwid/tests/threads.sh HWIDTOOL [C_COMPILER CXX_COMPILER]   (gcc g++; or clang clang++)
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/../../scripts/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/../../scripts/checks.sh"
set -u
src=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 HWIDTOOL [C_COMPILER CXX_COMPILER]"; exit 1; }
hwidtool=$1 cc=${2:-gcc} cxx=${3:-g++}
sanitize="-fsanitize=thread -g -O1"

[ -n "${HWID_CHECKS:-}" ] || checks_start threads
work=$(mktemp -d "${TMPDIR:-/tmp}/hwid-threads.XXXXXX") || exit 1
at_exit 'rm -rf "$work"'

fail() {
    [ -f "$2" ] && tail -n 20 "$2"
    record "threads ($cc, $cxx)" 1 "$1"
    exit 1
}

cmake -S "$src" -B "$work/build" -DHWID_LIBRARY=ON -DBUILD_TESTING=OFF -DHWID_WERROR=ON \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
    >"$work/build.log" 2>&1 &&
    cmake --build "$work/build" -j"$(nproc)" --target hwid >>"$work/build.log" 2>&1 ||
    fail "libhwid with $cxx -fsanitize=thread does not build" "$work/build.log"
version=$("$src/scripts/version.sh" "$src") || exit 1
# shellcheck disable=SC2086 # the flags are separate words
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $sanitize -pthread \
    -DHWID_TEST_VERSION="\"$version\"" -I"$src/libhwid" -o "$work/threads" \
    "$src/libhwid/tests/threads.c" -L"$work/build/libhwid" -lhwid \
    -Wl,-rpath,"$work/build/libhwid" >"$work/cc.log" 2>&1 ||
    fail "threads.c with $cc -fsanitize=thread does not build" "$work/cc.log"

TSAN_OPTIONS="halt_on_error=1 exitcode=66"
export TSAN_OPTIONS
"$work/threads" >"$work/run.log" 2>&1
status=$?
[ "$status" = 0 ] || fail "exit status $status" "$work/run.log"
record "threads ($cc, $cxx): $(cat "$work/run.log")" 0
python3 "$src/tests/system/machines.py" --binary "$hwidtool" --checker "$work/threads"
