#!/bin/sh
# Builds Zef.Hwid with Mono, lays it out in WORK as a program's output folder has it (the
# program, Zef.Hwid.dll, runtimes/linux-x64/native/libhwid.so), and runs the listing and the
# checker on the fabricated machines beside hwidtool, with a libhwid.so planted in the current
# folder and in LD_LIBRARY_PATH (loaded, it would speak on standard error). Needs root.
# Usage: round-trip.sh LIBHWID_SO HWIDTOOL WORK
set -eu
src=$(cd "$(dirname "$0")/../../.." && pwd)
library=$(realpath "$1") hwidtool=$(realpath "$2") work=$3
[ "$(id -u)" = 0 ] || { echo "SKIP: machines.py fabricates machines in namespaces, which needs root"; exit 77; }
case $(uname -m) in x86_64) rid=linux-x64 ;; aarch64) rid=linux-arm64 ;; *) echo "SKIP: no RID for $(uname -m)"; exit 77 ;; esac
rm -rf "$work" && mkdir -p "$work/app/runtimes/$rid/native" "$work/planted"
"$src/libhwid/dotnet/build.sh" "$work/build"
cp "$work/build/Zef.Hwid.dll" "$work/build/Listing.exe" "$work/build/CheckRows.exe" "$work/app/"
cp "$library" "$work/app/runtimes/$rid/native/libhwid.so"
cd "$work"
printf '#include <unistd.h>\n__attribute__((constructor)) static void planted(void) {
    write(2, "planted libhwid.so loaded\\n", 26); }\n' | gcc -shared -fPIC -o planted/libhwid.so -x c -
for name in libhwid.so hwid libhwid.so.1 hwid.so; do
    cp planted/libhwid.so "$name"
    [ "$name" = libhwid.so ] || cp planted/libhwid.so "planted/$name"
done
# The planted file speaks when loaded: the check that it would be seen at all.
[ "$(env LD_LIBRARY_PATH=planted python3 -c 'import ctypes; ctypes.CDLL("libhwid.so")' 2>&1)" = "planted libhwid.so loaded" ]
env="env LD_LIBRARY_PATH=$work/planted MONO_PATH=$work/planted"
python3 "$src/tests/system/machines.py" --binary "$hwidtool" \
    --consumer "$env mono $work/app/Listing.exe" --checker "$env mono $work/app/CheckRows.exe"
