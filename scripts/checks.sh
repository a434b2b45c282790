# Named checks for the test scripts, sourced by them: `check NAME COMMAND...`
# runs one and counts it; `finish` prints "N passed, M failed" and exits 0
# only when nothing failed.

passed=0
failed=0
failed_names=""
check() {
    check_name=$1
    shift
    echo "=== $check_name"
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $check_name"
    else
        failed=$((failed + 1))
        failed_names="$failed_names $check_name"
        echo "FAIL $check_name"
        return 1
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] || { echo "failed:$failed_names"; exit 1; }
    exit 0
}
