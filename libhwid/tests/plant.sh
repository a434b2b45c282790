#!/bin/sh
# Plants a libhwid that says so on standard error when it is loaded, under
# each NAME, in planted/ (for LD_LIBRARY_PATH and the like) and in the
# current folder: the bindings' round trips run beside them, and nothing may
# be said. Needs gcc.
# Usage: plant.sh NAME...
set -eu
mkdir -p planted
printf '#include <unistd.h>\n__attribute__((constructor)) static void planted(void) {
    write(2, "a planted libhwid was loaded\\n", 29); }\n' | gcc -shared -fPIC -o planted/.speaking -x c -
for name in "$@"; do
    cp planted/.speaking "planted/$name" && cp planted/.speaking "$name"
done
rm planted/.speaking
