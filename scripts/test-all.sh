#!/bin/bash
# The test suite, or the named stages of it:
#
#   scripts/test-all.sh [STAGE...]     (all stages when none is named)
#
# Installs what the chosen stages need, runs them in the usual order, and
# counts through scripts/checks.sh: a line per stage, the SKIP lines of every
# stage (the tests that ctest reports as skipped among them), and the closing
# "N passed, M failed, K skipped". Exit status 0 when no stage failed, 77
# when every stage skipped (not root); 2, before anything is installed, for
# a name that is no stage.
#
# A SKIP names a fact that was checked (not root; this kernel runs no 32-bit
# programs; qemu-i386 is not installed), never a failure. Under CI=true as
# root only the 32-bit one is possible, and a stage that skips for any other
# reason fails.
#
# The stages distros, portable and windows prove the files of the release
# that the release stage builds into build-release/ (it runs first whenever
# one of them is chosen), side by side: each shipped file gets a line
# "proven FILE: ...". The whole suite fails when a file of
# packaging/release.tsv has none.
# shellcheck source=scripts/guard.sh
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
        gcc | clang) echo test ;;
        hostile | distros | portable | windows) echo "test-$1" ;;
        *) echo "$1" ;;
    esac
}

tmp=$(mktemp -d)
at_exit 'rm -rf "$tmp"'
# shellcheck source=scripts/checks.sh
. scripts/checks.sh
# shellcheck source=scripts/manifest.sh
. scripts/manifest.sh
checks_start suite

native_suite() {  # stage name, build folder, C++ compiler
    cmake -S . -B "$2" -DHWID_WERROR=ON -DCMAKE_CXX_COMPILER="$3" >/dev/null &&
        cmake --build "$2" -j"$jobs" || return 1
    (cd "$2" && ctest -j"$jobs") | tee "$tmp/ctest.log"
    local status=${PIPESTATUS[0]} test
    # ctest turns a test's exit status 77 into "Skipped": say which and why,
    # with each test's own SKIP line from ctest's log of the run.
    for test in $(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$tmp/ctest.log"); do
        awk -v stage="$1" -v t="$test" '
            /^[0-9]+\/[0-9]+ Test: / { here = ($3 == t) }
            here && /^SKIP / { reason = substr($0, 6); sub(/^\[[^]]*\] /, "", reason); exit }
            END { print "SKIP [" stage "] " t ": " (reason ? reason : "the test gave no reason") }
        ' "$2/Testing/Temporary/LastTest.log"
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

# A stage exits 0 (passed), 77 (skipped, not root) or anything else
# (failed); its SKIP lines count in the suite's closing line. Under CI as
# root, every stage has what it needs: only a kernel without 32-bit programs
# may keep a part from running.
run_stage() {
    local name=$1 started=$SECONDS status
    echo "=== stage $name"
    [ "$name" != distros ] || await_roots
    "stage_$name" "${stage_arguments[@]}" 2>&1 | tee "$tmp/$name.log"
    status=${PIPESTATUS[0]}
    grep '^proven ' "$tmp/$name.log" >>"$tmp/proven"
    grep '^SKIP' "$tmp/$name.log" >>"$HWID_CHECKS"
    if [ "${CI:-}" = true ] && [ "$(id -u)" = 0 ] &&
        grep '^SKIP' "$tmp/$name.log" | grep -v 'this kernel runs no 32-bit programs'; then
        echo "under CI=true as root a stage may skip only where the kernel runs no 32-bit programs"
        status=1
    fi
    [ "$name" != release ] || release_status=$status
    [ "$status" = 77 ] && return
    record "stage $name ($((SECONDS - started)) s)" "$status" "status $status"
}

parts=""
for name in $chosen; do parts="$parts $(packages_of "$name")"; done
if [ -n "${parts// /}" ]; then
    # One word per part.
    # shellcheck disable=SC2086
    check "packages" scripts/install-deps.sh $parts || finish
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
# The stages that prove the release run side by side: the distros stage
# waits mostly on programs under qemu, a core's work. The others' output
# is kept and shown after it.
proving=""
for name in $chosen; do
    case " $proving_stages " in
        *" $name "*) proving="$proving $name" ;;
        *) run_stage "$name" ;;
    esac
done
for name in $proving; do
    [ "$name" = distros ] || run_stage "$name" >"$tmp/$name.out" 2>&1 &
done
[[ " $proving " != *" distros "* ]] || run_stage distros
wait
for name in $proving; do [ "$name" = distros ] || cat "$tmp/$name.out"; done

# The whole suite proves every file the manifest ships, each in the release
# it built and listed in its SHA256SUMS.
every_file_proven() {
    local file missing="" version
    version=$(scripts/version.sh) || return 1
    for file in $(shipped_files | cut -f2); do
        grep -q "^proven $file: " "$tmp/proven" && grep -q "  $file\$" "$release_dir/SHA256SUMS" ||
            missing="$missing $file"
    done
    [ -z "$missing" ] || { echo "no stage proved, or not in $release_dir/SHA256SUMS:$missing"; return 1; }
    echo "$(grep -c . "$tmp/proven") files proven, every one of packaging/release.tsv"
}
if [ $# = 0 ] && [ "$release_status" = 0 ]; then check "every shipped file proven" every_file_proven; fi
finish
