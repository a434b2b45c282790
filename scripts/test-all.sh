#!/bin/bash
# The test suite, or the named stages of it:
#
#   scripts/test-all.sh [STAGE...]     (all stages when none is named)
#
# Installs what the chosen stages need, runs them in the usual order, and
# ends with the line "stages: N passed, M failed, K skipped: ..." that names
# every part a stage skipped and why: a stage's SKIP lines, and the tests
# that ctest reports as skipped. Exit status 0 only when no stage failed; 2,
# before anything is installed, for a name that is no stage.
#
# A SKIP names a fact that was checked (not root; this kernel runs no 32-bit
# programs; qemu-i386 is not installed), never a failure. Under CI=true as
# root only the 32-bit one is possible, and a stage that skips for any other
# reason fails.
#
# The stages distros, portable and windows prove the files of the release
# that the release stage builds into build-release/ (it runs first whenever
# one of them is chosen): each shipped file gets a line "proven FILE: ...".
# The whole suite fails when a file of the release's SHA256SUMS has none.
. "$(dirname "$0")/guard.sh"
set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

all_stages="lint gcc clang hostile release distros portable windows"
# These prove the release's own files: the release is built first, once.
proving_stages="distros portable windows"
release_dir=build-release
stage_usage() {
    echo "usage: $0 [STAGE...]; stages: $all_stages" >&2
    exit 2
}
chosen=""
for name in "$@"; do
    case " $all_stages " in
        *" $name "*) ;;
        *) echo "no stage named '$name'" >&2; stage_usage ;;
    esac
done
wanted=" $* "
for name in $proving_stages; do
    [[ "$wanted" == *" $name "* ]] && wanted="$wanted release "
done
for name in $all_stages; do  # in the usual order, once each
    if [ $# = 0 ] || [[ "$wanted" == *" $name "* ]]; then chosen="$chosen $name"; fi
done

# What each stage needs installed, all of it before the first stage: the
# distros stage's roots are made while other stages run, and two apt-gets at
# once would fail on dpkg's lock.
packages_of() {
    case "$1" in
        lint) echo lint ;;
        gcc | clang) echo test ;;
        hostile) echo test libclang-rt-14-dev valgrind strace time ;;
        distros) echo debootstrap debian-archive-keyring man-db groff-base dpkg-dev gzip python3 \
            iproute2 util-linux mount qemu-user-static ;;
        portable) echo portable python3 iproute2 util-linux rpm ;;
        windows) echo build windows googletest libgtest-dev iproute2 util-linux qemu-user-static unzip ;;
        release) echo release ;;
    esac
}

tmp=$(mktemp -d)
at_exit 'rm -rf "$tmp"'
: >"$tmp/skips"

native_suite() {  # stage name, build folder, C++ compiler
    cmake -S . -B "$2" -DHWID_WERROR=ON -DCMAKE_CXX_COMPILER="$3" >/dev/null &&
        cmake --build "$2" -j"$jobs" || return 1
    (cd "$2" && ctest -j"$jobs") | tee "$tmp/ctest.log"
    local status=${PIPESTATUS[0]}
    # ctest turns a test's exit status 77 into "Skipped": say which and why,
    # with each test's own SKIP line from ctest's log of the run.
    awk -v stage="$1" '
        /^[0-9]+\/[0-9]+ Test: / { test = $3 }
        /^SKIP / && !(test in reason) { reason[test] = substr($0, 6) }
        END { for (t in reason) print t "\t" reason[t] }
    ' "$2/Testing/Temporary/LastTest.log" >"$tmp/reasons" 2>/dev/null
    local test reason
    for test in $(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$tmp/ctest.log"); do
        reason=$(awk -F '\t' -v t="$test" '$1 == t { print $2 }' "$tmp/reasons")
        echo "SKIP [$1] $test: ${reason:-the test gave no reason}"
    done
    return "$status"
}

stage_gcc() { native_suite gcc build-test-gcc g++; }
stage_clang() { native_suite clang build-test-clang clang++; }
stage_lint() { scripts/lint.sh; }
stage_hostile() { scripts/test-hostile.sh; }
stage_distros() { scripts/test-distros.sh "$release_dir"; }
stage_portable() { scripts/test-portable.sh "$release_dir"; }
stage_windows() { scripts/test-windows.sh "$release_dir"; }
# The second, compared build only where the release was asked for.
stage_release() {
    local check=""
    if [ $# = 0 ] || [[ " $* " == *" release "* ]]; then check=--check; fi
    scripts/release.sh --test $check "$release_dir"
}

# Stage scripts exit 77 when they cannot run here at all (not root), after
# a SKIP line that says so.
ran_ok() {
    [ "$1" = 0 ] || [ "$1" = 77 ]
}

# Under CI as root, every stage has what it needs: only a kernel without
# 32-bit programs may keep a part from running.
unexplained_skips() {  # a stage's SKIP lines: prints those not allowed here
    [ "${CI:-}" = true ] && [ "$(id -u)" = 0 ] || return 1
    grep -v 'this kernel runs no 32-bit programs' "$1"
}

passed=0
failed=0
failed_names=""
run_stage() {
    local name=$1 started status
    echo "=== stage $name"
    started=$(date +%s)
    [ "$name" != distros ] || await_roots
    # Shown as it comes; its SKIP lines are kept for the closing line.
    "stage_$name" "${stage_arguments[@]}" 2>&1 | tee "$tmp/stage.log"
    status=${PIPESTATUS[0]}
    grep '^proven ' "$tmp/stage.log" >>"$tmp/proven"
    grep '^SKIP' "$tmp/stage.log" >"$tmp/stage.skips"
    cat "$tmp/stage.skips" >>"$tmp/skips"
    if unexplained_skips "$tmp/stage.skips" >"$tmp/stage.unexplained"; then
        echo "FAIL: under CI=true as root a stage may skip only where the kernel runs no" \
            "32-bit programs, not for:"
        cat "$tmp/stage.unexplained"
        status=1
    fi
    [ "$name" != release ] || release_status=$status
    if ran_ok "$status"; then
        passed=$((passed + 1))
        echo "=== stage $name: ok ($(($(date +%s) - started)) s)"
    else
        failed=$((failed + 1))
        failed_names="$failed_names $name"
        echo "=== stage $name: FAILED (status $status, $(($(date +%s) - started)) s)"
    fi
}

parts=""
for name in $chosen; do parts="$parts $(packages_of "$name")"; done
if [ -n "${parts// /}" ]; then
    # One word per part.
    # shellcheck disable=SC2086
    scripts/install-deps.sh $parts || { echo "stages: 0 passed, 1 failed"; exit 1; }
fi

# The clean roots the distros stage installs the packages into take minutes
# to make, two of them under qemu: they are made while the stages before it
# run, and that stage waits for them.
roots_pid=""
if [[ " $chosen " == *" distros "* ]] && [ "$(id -u)" = 0 ]; then
    scripts/test-distros.sh --make-roots >"$tmp/roots.log" 2>&1 &
    roots_pid=$!
fi
await_roots() {
    [ -n "$roots_pid" ] || return 0
    wait "$roots_pid"
    echo "the clean roots, made while other stages ran (status $?):"
    grep -v '^=== ' "$tmp/roots.log" | sed 's/^/  /'
    roots_pid=""
}

stage_arguments=("$@")
release_status=none
: >"$tmp/proven"
for name in $chosen; do run_stage "$name"; done

# Every file of the release that the chosen stages prove has its line.
unproven() {
    local file
    while read -r _ file; do
        grep -q "^proven $file: " "$tmp/proven" || echo "$file"
    done <"$release_dir/SHA256SUMS"
}
if [ $# = 0 ] && [ "$release_status" = 0 ]; then
    missing=$(unproven 2>&1)
    if [ ! -f "$release_dir/SHA256SUMS" ] || [ -n "$missing" ]; then
        echo "FAIL: shipped files that no stage proved:" $missing
        failed=$((failed + 1))
        failed_names="$failed_names proven"
    else
        echo "every file of $release_dir/SHA256SUMS proven: $(grep -c . "$tmp/proven") lines"
    fi
fi

skipped=$(grep -c . "$tmp/skips")
reasons=$(sed 's/^SKIP:* *//' "$tmp/skips" | paste -sd ';' - | sed 's/;/; /g')
echo "stages: $passed passed, $failed failed, $skipped skipped${reasons:+: $reasons}"
[ "$failed" -eq 0 ] || { echo "failed stages:$failed_names"; exit 1; }
