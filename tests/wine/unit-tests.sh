#!/bin/bash
# Usage: unit-tests.sh ROUTE...   (see tests/wine/lib.sh)
# The Windows-side unit tests of each route's test build build-ROUTE.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"

adapter_list() { adapters | paste -sd, -; }
# gtest_case NAME LOG EVERY PROGRAM FILTER [VAR=VALUE...]: a unit test program
# of the route's test build passes when it exits 0 having passed a test (a
# filter that matches nothing after a rename runs none, and still exits 0).
# A test that skipped itself is a SKIP line with its reason, the line after
# GoogleTest's "FILE:LINE: Skipped"; where EVERY is "all", the run was set up
# for those very tests, and a skip fails it.
gtest_case() {
    local name="[$arch] $1" log="$out/$2.log" every=$3 status passed skipped test
    timeout 180 env "${@:6}" wine "$root/build-$arch/windows/$4.exe" ${5:+"--gtest_filter=$5"} \
        >"$log" 2>&1
    status=$?
    passed=$(tr -d '\r' <"$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' |
             tail -n 1)
    skipped=$(tr -d '\r' <"$log" | awk '/ Skipped$/ { getline reason; next }
        /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ {
            print $4 ": " (reason == "" ? "no reason given" : reason); reason = "" }')
    if [ -n "$skipped" ] && [ "$every" = all ]; then
        record "$name" 1 "skipped: $(echo "$skipped" | paste -sd';' -); see $log"
        return
    fi
    while read -r test; do [ -z "$test" ] || skip "$name: $test"; done <<<"$skipped"
    [ $status = 0 ] && [ "${passed:-0}" -gt 0 ]
    record "$name" $? "status $status, ${passed:-no} tests passed; see $log"
}
# The tests that only a double-byte code page can check (its byte sequences
# that cannot be split) skip in any other, and run in one of their own.
dbcs_tests='EntryTest.Unsplittable*:CommandLineToArgvATest.CountUntouched*'
unit_tests() {
    # Wine's SetupAPI lists no disk interfaces: the disk walk finds nothing.
    gtest_case windows_probe_tests windows_probe_tests some windows_probe_tests "" \
        HWID_EXPECTED_ADAPTERS="$(adapter_list)" HWID_EXPECTED_DISK_RECORDS=0
    gtest_case windows_ui_tests windows_ui_tests some windows_ui_tests "-$dbcs_tests"
    gtest_case "unsplittable command line (code page 932)" windows_ui_tests-cp932 all \
        windows_ui_tests "$dbcs_tests" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}
many_adapters_tests() {
    gtest_case "probe lists all $(adapters | wc -l) adapters (buffer overflow retried)" \
        many-adapters all windows_probe_tests 'RealAdapterProbeTest.*' \
        HWID_EXPECTED_ADAPTERS="$(adapter_list)"
}
for_routes : unit_tests many_adapters_tests "$@"
