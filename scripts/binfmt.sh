# shellcheck shell=sh
# Sourced, after guard.sh, by scripts that have the kernel start programs
# through qemu-user. `binfmt_register NAME FIELDS` adds the binfmt_misc entry
# hwid-NAME-PID for this run (PID is the script's), and the run removes it
# when it ends, however it ends; nothing else removes it. Entries of this
# project's left by a run that was killed are removed first, never used.
# Runs going on side by side each have their own: the F flag opened each
# one's emulator when it was registered, so one run's end leaves the others'
# programs starting. `binfmt_remove_stale NAME` alone fails while another
# run holds an entry (whoever asks whether this kernel runs such programs
# by itself). binfmt_misc, mounted for the run, is unmounted after it when
# no entry is left in it.

binfmt=/proc/sys/fs/binfmt_misc

binfmt_unmount_if_unused() {
    for binfmt_entry in "$binfmt"/*; do
        case "${binfmt_entry##*/}" in register | status) ;; *) return 0 ;; esac
    done
    umount "$binfmt"
}

binfmt_remove_stale() {  # name [shared: leave the entries of runs still going]
    for binfmt_entry in "$binfmt/hwid-$1-"*; do
        [ -e "$binfmt_entry" ] || continue
        binfmt_pid=${binfmt_entry##*-}
        if kill -0 "$binfmt_pid" 2>/dev/null; then
            [ -z "${2:-}" ] || continue
            echo "binfmt_misc entry $(basename "$binfmt_entry") is in use by a run still going" \
                "(pid $binfmt_pid)" >&2
            return 1
        fi
        echo -1 >"$binfmt_entry" || return 1
        echo "removed binfmt_misc entry $(basename "$binfmt_entry"), left by a run that was killed"
    done
}

# FIELDS are those after the name, as the kernel reads them:
# ":TYPE:OFFSET:MAGIC:MASK:INTERPRETER:FLAGS".
binfmt_register() {  # name, fields
    if [ ! -f "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
        at_exit binfmt_unmount_if_unused
    fi
    binfmt_remove_stale "$1" shared || return 1
    printf '%s' ":hwid-$1-$$$2" >"$binfmt/register" || return 1
    at_exit "echo -1 >'$binfmt/hwid-$1-$$'"
}
