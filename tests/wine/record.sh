# shellcheck shell=bash
# `record NAME STATUS [DETAIL]` appends "PASS NAME" or "FAIL NAME (DETAIL)"
# to the file $results and shows it; it returns STATUS, so that
# `record ... || exit 1` stops where a step must not fail.
record() {
    if [ "$2" = 0 ]; then
        echo "PASS $1" | tee -a "$results"
    else
        echo "FAIL $1${3:+ ($3)}" | tee -a "$results"
    fi
    return "$2"
}
