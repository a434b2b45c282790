#!/bin/sh
# Hostile machines and inputs: libFuzzer targets for every parser of outside
# data, the whole native suite under address and undefined-behaviour
# sanitizers, hwidtool on hostile fabricated machines (plain and sanitized,
# with peak memory), valgrind memcheck, a strace audit of the listing, its
# system calls failing one at a time, and the library's calls from several
# threads under ThreadSanitizer.
#
# Usage: scripts/test-hostile.sh          (as root for the fabricated machines)
# Environment: FUZZ_SECONDS (default 30) per fuzz target, targets run side by
# side on the available cores. About 6 minutes on 2 cores.
# Build folders: build-asan (clang, sanitized: the suite and the fuzz
# targets), and build-test-gcc (the gcc stage's build: its unsanitized
# hwidtool for memcheck, strace, fault injection and memory peaks).
# A crashing fuzz input is kept in fuzz/regressions/<target>/ and replayed on
# every later run; commit it with the fix.
# Ends with "N passed, M failed, K skipped"; exit status 0 when nothing
# failed, 77 when only skipped (not root). Interrupted, it stops the fuzzers
# and removes its scratch folder.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
fuzz_seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc)
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export CTEST_OUTPUT_ON_FAILURE=1

checks_start hostile
check packages scripts/install-deps.sh test-hostile || finish
scratch=$(mktemp -d "${SCRATCH_DIR:-/dev/shm}/zef-hostile-XXXXXX" 2>/dev/null ||
          mktemp -d /tmp/zef-hostile-XXXXXX)
at_exit 'rm -rf "$scratch"'

logged() {  # log, command...: its output only when it fails
    log=$1
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log"; return 1; }
}

# One clang build, sanitized, every object instrumented for the fuzzer: the
# fuzz targets of fuzz/ and the whole native suite.
sanitized_build() {
    cmake -S . -B build-asan -DHWID_WERROR=ON -DHWID_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DCMAKE_EXE_LINKER_FLAGS="$sanitize" && cmake --build build-asan -j"$jobs"
}
check "sanitized build (build-asan)" logged "$scratch/asan.log" sanitized_build

# One target: replay its kept crash inputs, then fuzz for the time budget,
# seeds from fuzz/corpus, new inputs into build-asan/corpus.
fuzz_one() {
    target=$1 log="$scratch/$1.log" regressions="fuzz/regressions/$1"
    mkdir -p "$regressions" "build-asan/corpus/$target" "$scratch/$target.tmp"
    export TMPDIR="$scratch/$target.tmp"
    if [ -n "$(ls -A "$regressions")" ]; then
        timeout 300 "build-asan/fuzz/$target" "$regressions"/* >"$log" 2>&1 || return 1
    fi
    timeout $((fuzz_seconds + 120)) "build-asan/fuzz/$target" -max_total_time="$fuzz_seconds" \
        -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$regressions/" \
        "build-asan/corpus/$target" "fuzz/corpus/$target" >>"$log" 2>&1
}

# Every target in fuzz/ must run: the list comes from the sources, not from
# what happened to build. They run side by side, a core each.
targets=$(for source in fuzz/*_fuzz.cpp; do basename "$source" .cpp; done)
running=0
for target in $targets; do
    echo "=== fuzz $target (${fuzz_seconds} s)"
    (fuzz_one "$target"; echo $? >"$scratch/$target.status") &
    running=$((running + 1))
    [ "$running" -lt "$jobs" ] || { wait; running=0; }
done
wait
fuzz_figures=""
for target in $targets; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log" 2>/dev/null)
    fuzz_figures="$fuzz_figures
  $target: ${runs:-no} executions in ${fuzz_seconds} s"
    [ "$(cat "$scratch/$target.status" 2>/dev/null)" = 0 ] && [ "${runs:-0}" -gt 0 ]
    record "fuzz $target (${runs:-no} executions)" $? "crash inputs are kept in fuzz/regressions/$target/" ||
        tail -n 60 "$scratch/$target.log" 2>/dev/null
done

check "sanitized suite (build-asan)" sh -c 'cd build-asan && timeout 900 ctest -j"$1" --timeout 600' \
    sanitized_suite "$jobs"

# The gcc stage's build, with its options: built again only when missing.
plain=build-test-gcc/linux/cli/hwidtool
check "plain build (build-test-gcc)" logged "$scratch/plain.log" sh -c \
    'cmake -S . -B build-test-gcc -DHWID_WERROR=ON -DCMAKE_CXX_COMPILER=g++ &&
     cmake --build build-test-gcc -j"$1" --target hwidtool' plain_build "$jobs"

# hostile.py and threads.sh write the stage's lines themselves (counted).
hostile() {  # name, arguments of tests/hostile/hostile.py
    name=$1
    shift
    counted "$name" timeout 1200 python3 tests/hostile/hostile.py "$@"
}
hostile "hostile machines" --binary "$plain" machines
hostile "memcheck" --binary "$plain" memcheck
hostile "strace audit" --binary "$plain" audit
hostile "fault injection" --binary "$plain" faults
hostile "hostile machines, sanitized" --no-memory-bound --binary build-asan/linux/cli/hwidtool machines

# The library from several threads at once, under ThreadSanitizer, here and
# on the fabricated machines beside the plain hwidtool.
counted "libhwid threads (gcc)" libhwid/tests/threads.sh "$plain"
counted "libhwid threads (clang)" libhwid/tests/threads.sh "$plain" clang clang++

echo "=== figures"
echo "fuzz executions:$fuzz_figures"
echo "peak memory (plain hwidtool), fault injection, valgrind:"
grep -e '^ok   machines .*peak' -e '^ok   faults faults-injected' -e '^ok   memcheck' "$HWID_CHECKS" |
    grep -v 'no memory bound' | sed 's/^ok   /  /'
finish
