# shellcheck shell=sh
# Sourced first by every script that starts processes, mounts, namespaces,
# binfmt_misc entries or temporary folders, so that it leaves none of them
# behind, however it ends:
#
#   . "$(dirname "$0")/guard.sh"      (before any other command)
#   at_exit 'rm -rf "$scratch"'       (clean-up steps, run last first)
#
# A shell runs its traps only when its foreground command has ended, and
# `timeout` moves its command into a process group of its own, out of reach
# of Ctrl-C. So the script runs as the child of a small supervisor (this
# same file, in the process that was started): on INT, TERM or HUP the
# supervisor sends TERM to every process below it (a `timeout` passes it on
# to its own group), the script's trap then runs its clean-up steps and
# exits, and whatever is still running after 20 s gets KILL. The script
# itself runs with its standard input from /dev/null.

guard_descendants() {  # pid: every process below it, parents first
    for guard_pid in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        echo "$guard_pid"
        guard_descendants "$guard_pid"
    done
}

guard_stop() {  # exit status
    trap '' INT TERM HUP
    # shellcheck disable=SC2046
    kill -TERM $(guard_descendants $$) 2>/dev/null
    for _ in $(seq 100); do
        kill -0 "$guard_child" 2>/dev/null || break
        sleep 0.2
    done
    # shellcheck disable=SC2046
    kill -KILL $(guard_descendants $$) 2>/dev/null
    exit "$1"
}

if [ "${HWID_GUARD_PARENT:-}" != "$PPID" ]; then
    HWID_GUARD_PARENT=$$ "$0" "$@" &
    guard_child=$!
    trap 'guard_stop 130' INT
    trap 'guard_stop 143' TERM
    trap 'guard_stop 129' HUP
    # `wait` returns early when a trapped signal comes in; the trap exits.
    wait "$guard_child"
    exit $?
fi
unset HWID_GUARD_PARENT

guard_steps=""
at_exit() {  # shell command
    guard_steps="$1
$guard_steps"
}
guard_exit() {
    guard_status=$?
    set +e
    trap - EXIT
    trap '' TERM HUP
    eval "$guard_steps"
    exit "$guard_status"
}
trap guard_exit EXIT
trap 'exit 143' TERM
trap 'exit 129' HUP
