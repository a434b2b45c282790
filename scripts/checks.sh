# shellcheck shell=sh
# The one way the suite counts, sourced by every test script:
#
#   checks_start STAGE          a fresh count for STAGE (its SKIP lines name it)
#   check NAME COMMAND...       runs one check: "ok   NAME" or "FAIL NAME"
#   record NAME STATUS [DETAIL] counts a result already known; returns STATUS
#   counted NAME COMMAND...     runs a harness that writes these lines itself
#                               (tests/lib/fabric.py): its lines are the count,
#                               a FAIL added only where its status belies them
#   skip FACT                   "SKIP [STAGE] FACT": a fact that was checked
#   proof_begin; proven FILE WHAT
#                               "proven FILE: WHAT (N checks passed)" when the
#                               checks since proof_begin all passed, else a FAIL;
#                               with $HWID_TALLY set (a lane of several
#                               going side by side) a line of that file
#   proven_tallied TALLY FILE...
#                               the "proven" lines of the FILEs from the lanes'
#                               tallies added up: a file is proven where every
#                               lane that tried it passed
#   release_at DIR; shipped PATTERN
#                               the one file of the release in DIR that
#                               matches, or a message on how to make one
#   finish                      "N passed, M failed, K skipped" and the exit:
#                               0 passed, 77 only skipped, 1 failed or nothing run
#
# The lines go to standard output and to the file $HWID_CHECKS, which a
# script's helpers (another shell, a harness in a namespace) append to as
# well, so one stage has one count however many processes it takes.

checks_start() {  # stage
    HWID_STAGE=$1
    HWID_CHECKS=$(mktemp "${TMPDIR:-/tmp}/hwid-checks.XXXXXX") || exit 1
    export HWID_STAGE HWID_CHECKS
    # The stage's own file: gone with the stage (guard.sh).
    if command -v at_exit >/dev/null 2>&1; then at_exit 'rm -f "$HWID_CHECKS"'; fi
}

checks_line() {  # line
    echo "$1"
    echo "$1" >>"${HWID_CHECKS:?checks_start was not called}"
}

record() {  # name, status, detail
    if [ "$2" = 0 ]; then checks_line "ok   $1"; else checks_line "FAIL $1${3:+ ($3)}"; fi
    return "$2"
}

check() {  # name, command...
    check_name=$1
    shift
    echo "=== $check_name"
    "$@"
    record "$check_name" $?
}

counted() {  # name, command...
    counted_name=$1
    shift
    echo "=== $counted_name"
    counted_from=$(($(wc -l <"${HWID_CHECKS:?checks_start was not called}") + 1))
    "$@"
    counted_status=$?
    counted_ok=$(checks_count 'ok ' "$counted_from")
    counted_failed=$(checks_count 'FAIL ' "$counted_from")
    case $counted_status in
        0) [ "$counted_failed" = 0 ] && [ "$counted_ok" -gt 0 ] ||
            record "$counted_name" 1 "status 0 after $counted_ok ok and $counted_failed FAIL lines" ;;
        77) [ "$(checks_count 'SKIP ' "$counted_from")" -gt 0 ] ||
            record "$counted_name" 1 "exit status 77 with no SKIP line" ;;
        *) [ "$counted_failed" -gt 0 ] || record "$counted_name" 1 "exit status $counted_status" ;;
    esac
    return $counted_status
}

skip() {  # the fact that was checked
    checks_line "SKIP [${HWID_STAGE:-?}] $*"
}

checks_count() {  # prefix [first line]: lines of $HWID_CHECKS from there that start with it
    tail -n +"${2:-1}" "$HWID_CHECKS" | grep -c "^$1"
}

proof_begin() {
    proof_from=$(($(wc -l <"$HWID_CHECKS") + 1))
}

proven() {  # shipped file, what ran on it
    proof_passed=$(checks_count 'ok ' "$proof_from")
    proof_failed=$(checks_count 'FAIL ' "$proof_from")
    if [ -n "${HWID_TALLY:-}" ]; then
        printf '%s\t%s\t%s\t%s\n' "$1" "$proof_passed" "$proof_failed" "$2" >>"$HWID_TALLY"
    elif [ "$proof_failed" = 0 ] && [ "$proof_passed" -gt 0 ]; then
        echo "proven $1: $2 ($proof_passed checks passed)"
    else
        record "$1 proven" 1 "$proof_passed checks passed, $proof_failed failed"
    fi
}

proven_tallied() {  # tally, shipped files...
    tally=$1
    shift
    for proof_file in "$@"; do
        # passed, failed and what ran, added up over the file's lines
        IFS="$(printf '\t')" read -r proof_passed proof_failed proof_what <<EOF
$(awk -F '\t' -v f="$proof_file" '$1 == f { p += $2; n += $3; if (w == "") w = $4 }
    END { print p + 0 "\t" n + 0 "\t" w }' "$tally")
EOF
        if [ "$proof_failed" = 0 ] && [ "$proof_passed" -gt 0 ]; then
            echo "proven $proof_file: $proof_what ($proof_passed checks passed)"
        else
            record "$proof_file proven" 1 "$proof_passed checks passed, $proof_failed failed"
        fi
    done
}

release_at() {  # folder
    release=$(cd "$1" 2>/dev/null && pwd) || release=$1
}

shipped() {  # pattern
    set -- "$release"/$1
    [ -f "$1" ] && [ $# = 1 ] && echo "$1" && return 0
    echo "no single $(basename "$1") in $release: scripts/release.sh $release makes one" >&2
    return 1
}

joined() {  # prefix: the lines of $HWID_CHECKS with it, on one line
    sed -n "s/^$1//p" "$HWID_CHECKS" | paste -sd ';' - | sed 's/;/; /g'
}

finish() {
    checks_passed=$(checks_count 'ok ')
    checks_failed=$(checks_count 'FAIL ')
    checks_skipped=$(checks_count 'SKIP ')
    echo "$checks_passed passed, $checks_failed failed, $checks_skipped skipped"
    # printf: a detail may quote bytes as \n, which sh's echo would expand.
    [ "$checks_skipped" = 0 ] || printf 'skipped: %s\n' "$(joined 'SKIP ')"
    [ "$checks_failed" = 0 ] || { printf 'failed: %s\n' "$(joined 'FAIL ')"; exit 1; }
    [ "$checks_passed" -gt 0 ] && exit 0
    [ "$checks_skipped" -gt 0 ] && exit 77
    echo "FAIL nothing was checked"
    exit 1
}
