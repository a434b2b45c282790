#!/bin/sh
# Installs the build into OUT/prefix as a user would (or takes a prefix
# already installed, such as an unpacked release archive), builds the
# listing program against that install three ways (pkg-config, pkg-config
# --static, find_package) and, with "readme", the README's example exactly as
# printed. The example's build command names cc, so "readme" only where cc
# compiles for the install's architecture. The example is run on the
# fabricated machines, which know where its licensed ID must be found:
#   machines.py ... --licence OUT_DIR/readme/run-licence "$(cat OUT_DIR/readme/licensed-id)"
# run-licence starts it with the install's library (no path needed in /usr).
# Usage: consumers.sh BUILD_DIR|PREFIX SOURCE_DIR OUT_DIR C_COMPILER [readme]
# (PREFIX /usr: the installed libhwid-dev package)
# Exit status 0 when all went well, else 1.
set -u
build=$1 src=$2 out=$3 cc=$4 readme=${5:-}
warnings="-std=c99 -Wall -Wextra -Wpedantic -Werror"

fail() {
    echo "FAIL $*"
    exit 1
}

needs() {  # library, what a NEEDED entry must (not) name
    dynamic=$(readelf -d "$1") || fail "readelf -d $1"
    case "$dynamic" in
        *"[libhwid.so"*) linked=shared ;;
        *) linked=static ;;
    esac
    [ "$linked" = "$2" ] || fail "$1 links libhwid $linked, not $2"
}

case $readme in "" | readme) ;; *) fail "consumers.sh: a 5th argument is \"readme\" or nothing, not $readme" ;; esac
command -v pkg-config >/dev/null || fail "no pkg-config (Debian package pkgconf)"
rm -rf "$out" && mkdir -p "$out" || fail "cannot make $out"
prefix=$build
if [ -f "$build/CMakeCache.txt" ]; then
    prefix="$out/prefix"
    cmake --install "$build" --prefix "$prefix" >"$out/install.log" 2>&1 ||
        fail "cmake --install $build: $(tail -n 5 "$out/install.log")"
fi
# Installed in /usr (the Debian packages), it is found as a user finds it:
# by pkg-config's and the loader's own search paths, with none given.
rpath=""
if [ "$prefix" != /usr ]; then
    pc=$(find "$prefix" -name hwid.pc) && [ -n "$pc" ] || fail "no hwid.pc in $prefix"
    PKG_CONFIG_PATH=$(dirname "$pc")
    export PKG_CONFIG_PATH
fi
libdir=$(pkg-config --variable=libdir hwid) || fail "pkg-config --variable=libdir hwid"
[ "$prefix" = /usr ] || rpath="-Wl,-rpath,$libdir"

listing="$src/libhwid/tests/listing.c"
# shellcheck disable=SC2046 # pkg-config's flags are separate words
"$cc" $warnings -o "$out/listing-shared" "$listing" $(pkg-config --cflags --libs hwid) ${rpath:+"$rpath"} ||
    fail "listing through pkg-config"
needs "$out/listing-shared" shared
echo "ok   listing linked through pkg-config"

# The archive by name: -lhwid would find the shared library beside it.
static_libs=$(pkg-config --static --libs hwid) || fail "pkg-config --static --libs hwid"
# shellcheck disable=SC2046
"$cc" $warnings -o "$out/listing-static" "$listing" $(pkg-config --cflags hwid) \
    $(echo "$static_libs" | sed 's/-lhwid\( \|$\)/-l:libhwid.a\1/') ||
    fail "listing through pkg-config --static ($static_libs)"
needs "$out/listing-static" static
echo "ok   listing linked through pkg-config --static: $static_libs"

cmake -S "$src/libhwid/tests/consumer" -B "$out/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$warnings" >"$out/cmake.log" 2>&1 &&
    cmake --build "$out/cmake" >>"$out/cmake.log" 2>&1 ||
    fail "listing through find_package(hwid 1 CONFIG): $(tail -n 5 "$out/cmake.log")"
cp "$out/cmake/listing" "$out/listing-cmake" || fail "no listing built by CMake"
needs "$out/listing-cmake" shared
echo "ok   listing linked through find_package(hwid 1 CONFIG)"

# The README's example and its build command, as printed.
[ -n "$readme" ] || exit 0
mkdir "$out/readme" && cd "$out/readme" || fail "cannot make $out/readme"
section=$(awk '/^## /{p = $0 == "## C and C++"} p' "$src/libhwid/README.md")
printf '%s\n' "$section" | sed -n '/^```c$/,/^```$/p' | sed '1d;$d' >licence.c
command=$(printf '%s\n' "$section" | grep -m 1 '^cc licence\.c ')
[ -s licence.c ] && [ -n "$command" ] || fail "libhwid/README.md: no C example or no cc line in its section"
# shellcheck disable=SC2046
"$cc" $warnings -fsyntax-only $(pkg-config --cflags hwid) licence.c || fail "README example: warnings"
sh -c "$command" || fail "README build command: $command"
licensed=$(grep -o '"[0-9A-Fa-f]\{32\}"' licence.c | tr -d '"')
[ "$(printf '%s\n' "$licensed" | wc -l)" = 1 ] && [ -n "$licensed" ] ||
    fail "README example names no single Hardware ID: $licensed"
printf '%s\n' "$licensed" >licensed-id || fail "cannot write $out/readme/licensed-id"
{
    echo '#!/bin/sh'
    [ -z "$rpath" ] || echo "LD_LIBRARY_PATH='$libdir' && export LD_LIBRARY_PATH"
    echo "exec '$out/readme/licence' \"\$@\""
} >run-licence && chmod +x run-licence || fail "cannot write $out/readme/run-licence"
echo "ok   README example built as printed, its licence for $licensed"
