#!/bin/sh
# The whole test suite: installs what it needs, then runs every stage and
# ends with a line "stages: N passed, M failed, K skipped: ..." naming every
# part that a stage skipped (its SKIP lines). Exit status 0 only when no
# stage failed. Stages that need root skip their root-only tests without it.
set -u
cd "$(dirname "$0")/.."
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

passed=0
failed=0
failed_names=""
skips=$(mktemp)
trap 'rm -f "$skips" "$skips.status" "$skips.log"' EXIT
stage() {
    name=$1
    shift
    echo "=== stage $name"
    started=$(date +%s)
    # Shown as it comes; its SKIP lines are kept for the closing line.
    { "$@"; echo $? >"$skips.status"; } 2>&1 | tee "$skips.log"
    grep '^SKIP' "$skips.log" >>"$skips"
    if [ "$(cat "$skips.status")" = 0 ]; then
        passed=$((passed + 1))
        echo "=== stage $name: ok ($(($(date +%s) - started)) s)"
    else
        failed=$((failed + 1))
        failed_names="$failed_names $name"
        echo "=== stage $name: FAILED ($(($(date +%s) - started)) s)"
    fi
}

native_suite() {  # build folder, C++ compiler
    cmake -S . -B "$1" -DHWID_WERROR=ON -DCMAKE_CXX_COMPILER="$2" >/dev/null &&
        cmake --build "$1" -j"$jobs" &&
        (cd "$1" && ctest -j"$jobs")
}

# Stage scripts exit 77 when they cannot run here at all (not root).
allow_skip() {
    "$@"
    status=$?
    [ "$status" -eq 77 ] && return 0
    return "$status"
}

scripts/install-deps.sh test portable windows release || { echo "stages: 0 passed, 1 failed"; exit 1; }

stage gcc native_suite build-test-gcc g++
stage clang native_suite build-test-clang clang++
stage hostile allow_skip scripts/test-hostile.sh
stage distros allow_skip scripts/test-distros.sh
stage portable allow_skip scripts/test-portable.sh
stage windows scripts/test-windows.sh
stage release allow_skip scripts/release.sh --test --check build-release

skipped=$(grep -c . "$skips")
reasons=$(sed 's/^SKIP:* *//' "$skips" | paste -sd ';' - | sed 's/;/; /g')
echo "stages: $passed passed, $failed failed, $skipped skipped${reasons:+: $reasons}"
[ "$failed" -eq 0 ] || { echo "failed stages:$failed_names"; exit 1; }
