#!/bin/sh
# Prints, as one text, what hwidtool writes for the commands that read no
# hardware: the hashing command and the usage text, each with its exit
# status. Builds for different distributions must print the same bytes.
#
# The program is started as ./hwidtool from its own folder, so that the
# program name in the usage text is the same wherever the binary lives.
#
# Usage: distro-commands.sh PATH_TO_HWIDTOOL
# Environment: HWIDTOOL_RUNNER, an emulator to start the program with (such
# as qemu-aarch64-static); its guest still sees ./hwidtool as its name.
set -u

dir=$(dirname "${1:?usage: $0 PATH_TO_HWIDTOOL}")
cd "$dir" || exit 1

run() {
    printf '=== hwidtool'
    printf ' [%s]' "$@"
    printf '\n'
    # One word: the emulator's name.
    ${HWIDTOOL_RUNNER:-} ./hwidtool "$@"
    printf '=== status %d\n' "$?"
}

run --generate abc
run --generate 168
run --generate ''
run --generate ' a b '
run --generate "$(printf 'caf\303\251 \033[2J')"
run --generate
run --GENERATE abc
run --generate a b
run -h
