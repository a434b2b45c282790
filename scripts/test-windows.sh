#!/bin/bash
# hwidwin as the release ships it: the two programs of the Windows zip run
# under Wine and Xvfb inside a private network namespace with known
# adapters (tests/wine/run-under-wine.sh): the window, its table, Copy,
# Refresh, Quit, the message boxes and DLLs planted beside the program.
#
# Usage: scripts/test-windows.sh [RELEASE_DIR]   (default build-release,
# relative to the repository; scripts/release.sh RELEASE_DIR makes it).
# The zip is unpacked into build-wine-artifacts/. The Windows-side unit
# tests, the console helper winprobe.exe and the planted DLLs come from
# test builds of the working tree (build-win32/, build-win64/), cross-built
# with warnings as errors; their hwidwin.exe is never what runs. When every
# check of the zip's programs passed, one line says so: "proven
# hwidwin-VERSION-windows.zip: ... (N checks passed)".
#
# Some kernels run no 32-bit x86 program at all, and so no 32-bit Wine
# (checked with a minimal static 32-bit program). There the 64-bit program
# runs its whole route under Wine's 64-bit loader, and the 32-bit one a
# short route under Wine's 32-bit loader emulated by qemu-user, which
# binfmt_misc starts for i386 programs during this run only. Without
# qemu-i386 (outside CI), and with HWID_WINE64_ONLY=1 on any machine, the
# i686 route is one SKIP line. A Wine loader that the kernel would run but
# that does not start is a failure. HWID_I386_UNDER_QEMU=1 takes the
# emulated route on a kernel that runs 32-bit programs too (its binfmt_misc
# entry then outranks the kernel's own loader for the run).
#
# Needs root (apt-get, namespaces, binfmt_misc); without it, it says so and
# exits 77. Counts with scripts/checks.sh: ends with "N passed, M failed,
# K skipped", exit status 0, 77 or 1. About a minute on 2 cores once the
# packages, the test builds and the Wine prefix are in place (the builds
# and the prefix take a few minutes the first time), about 2 more under
# emulation. Interrupted, it ends the harness with its Xvfb and Wine server
# and removes its binfmt_misc entry.
. "$(dirname "$0")/guard.sh"
. "$(dirname "$0")/binfmt.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
release_arg=${1:-build-release}
release=$(cd "$release_arg" 2>/dev/null && pwd) || release="$root/$release_arg"
artifacts="$root/build-wine-artifacts"

if [ "$(id -u)" != 0 ]; then
    checks_start windows
    skip "not root: the Windows tests need root (apt-get, network and mount namespaces)"
    finish
fi

# The harness mounts a tmpfs over /tmp; the count must live where it still
# sees the same file.
mkdir -p "$artifacts" || exit 1
TMPDIR="$artifacts" checks_start windows

log() { echo "== $*"; }

version=$(sed -n 's/^project(hwid VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip_name="hwidwin-$version-windows"
zip="$release/$zip_name.zip"
shipped="$artifacts/zip/$zip_name"
# Nothing here can stand in for the shipped programs: without them the
# stage has nothing to prove.
if [ ! -f "$zip" ]; then
    record "$zip_name.zip in $release_arg" 1 \
        "none there: scripts/release.sh $release_arg makes one"
    finish
fi

check "install packages" timeout 1500 scripts/install-deps.sh build windows googletest \
    libgtest-dev iproute2 util-linux qemu-user-static unzip

test_build() {  # folder, target triple
    log "building $1"
    timeout 600 cmake -S . -B "$1" --toolchain "cmake/$2.cmake" -DHWID_WERROR=ON \
        >"$artifacts/configure-$1.log" 2>&1 &&
        timeout 900 cmake --build "$1" -j"$(nproc)" >"$artifacts/build-$1.log" 2>&1 ||
        { tail -n 30 "$artifacts/build-$1.log" 2>/dev/null; return 1; }
}
check "test build build-win32 (unit tests, winprobe, planted DLLs)" test_build build-win32 \
    i686-w64-mingw32
check "test build build-win64 (unit tests, winprobe, planted DLLs)" test_build build-win64 \
    x86_64-w64-mingw32

# Which routes run here, and under which loader. Debian's `wine` prefers
# the 32-bit loader and its helper scripts (wineboot) call `wine-stable`:
# for the 64-bit-only route both names lead to the 64-bit loader, through a
# folder put first on PATH.
routes="win32 win64"
not_run_because=""  # why the i686 route does not run, when that is a checked fact
export WINEPREFIX="$root/build-wine-prefix"
use_wine64() {
    export WINELOADER=/usr/lib/wine/wine64
    local shims="$artifacts/wine64-loader"
    mkdir -p "$shims"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shims/wine"
    chmod 755 "$shims/wine"
    ln -sf wine "$shims/wine-stable"
    export PATH="$shims:$PATH"
}
only_win64() {
    routes="win64"
    export WINEPREFIX="$root/build-wine-prefix-64"
    use_wine64
}
skip_win32() {
    not_run_because=$1
    skip "i686 route (32-bit/hwidwin.exe) under Wine: $1"
    only_win64
}
# Whether this kernel runs 32-bit x86 programs: a static one that only
# exits, made with binutils. Prints "yes" or "no"; fails when it cannot
# tell.
kernel_runs_32bit() {
    local dir="$artifacts/i386-exit"
    mkdir -p "$dir" &&
        printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80\n' \
            >"$dir/exit.s" &&
        as --32 -o "$dir/exit.o" "$dir/exit.s" && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" ||
        return 1
    "$dir/exit" 2>/dev/null
    case $? in
        0) echo yes ;;
        126) echo no ;;  # the kernel refused it (ENOEXEC)
        *) return 1 ;;
    esac
}

# A loader that should run and does not is a failure, shown with its words.
loader_starts() {  # loader
    local out status
    out=$(timeout 300 "$1" --version 2>&1)
    status=$?
    [ $status = 0 ] && return 0
    record "Wine's loader $1 starts" 1 "'$1 --version' gave status $status: $(echo "$out" | tail -n 3)"
}

# binfmt_misc outranks the kernel's own loader: qemu then starts every i386
# program, Wine's 32-bit loader among them.
emulate_i386() {
    binfmt_register qemu-i386 ':M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FP'
}

# Which routes run here, and under which loader; anything that should work
# and does not is recorded as a failure, never taken for a reason to skip.
choose_routes() {
    local runs_32bit
    # An entry a killed run left behind would make 32-bit programs look runnable.
    binfmt_remove_stale qemu-i386 ||
        { record "no other run holds a qemu-i386 entry" 1; only_win64; return; }
    if [ "${HWID_WINE64_ONLY:-0}" = 1 ]; then
        skip_win32 "HWID_WINE64_ONLY=1 asks for the 64-bit route only"
        return
    fi
    runs_32bit=$(kernel_runs_32bit) ||
        { record "a static 32-bit program is built and started" 1; only_win64; return; }
    if [ "$runs_32bit" = yes ] && [ "${HWID_I386_UNDER_QEMU:-0}" != 1 ]; then
        log "this kernel runs 32-bit programs: the i686 route under Wine's own 32-bit loader"
        loader_starts /usr/lib/wine/wine || only_win64
        return
    fi
    if [ ! -x /usr/bin/qemu-i386-static ]; then
        if [ "${CI:-}" = true ]; then
            record "qemu-i386-static installed" 1 "missing after the install step"
            only_win64
        else
            skip_win32 "qemu-i386 is not installed (this kernel runs no 32-bit programs)"
        fi
        return
    fi
    emulate_i386 || { record "qemu-i386 registered with binfmt_misc" 1; only_win64; return; }
    loader_starts /usr/lib/wine/wine || { only_win64; return; }
    # A program takes minutes to start there: one prefix with both halves,
    # the x86_64 route as on such a kernel, and a short i686 route.
    local why="this kernel runs no 32-bit programs"
    [ "$runs_32bit" = no ] || why="HWID_I386_UNDER_QEMU=1 asks for emulation"
    local short="32-bit/hwidwin.exe runs only a short route under qemu-i386"
    skip "i686 unit tests and the rest of the i686 route under Wine: $why; $short"
    routes="win64 win32"
    export HWID_SHORT_ROUTES=win32
    use_wine64
}
choose_routes
case " $routes " in
    *" win64 "*) loader_starts "${WINELOADER:-/usr/lib/wine/wine64}" || routes=${routes/win64/} ;;
esac
routes=$(echo $routes)
full_routes=$(for r in $routes; do
    case " ${HWID_SHORT_ROUTES:-} " in *" $r "*) ;; *) echo "$r" ;; esac
done)
full_routes=$(echo $full_routes)
log "Wine routes: ${routes:-none} (loader: ${WINELOADER:-/usr/bin/wine})"

# Whatever the harness starts (Xvfb, the Wine server, the programs) lives in
# its process namespace and ends with it. Wine must start afresh inside the
# network namespace: a server left running outside would report the host's
# adapters.
HWID_HOST_MOUNT_NS=$(readlink /proc/self/ns/mnt)
export HWID_HOST_MOUNT_NS
harness() {  # seconds, harness arguments...
    local seconds=$1 status
    shift
    wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
    log "run-under-wine.sh $*: private network, mount and process namespaces"
    timeout "$seconds" unshare -nmp --fork --kill-child=TERM --mount-proc -- \
        "$root/tests/wine/run-under-wine.sh" "$root" "$@"
    status=$?
    [ $status = 0 ] || record "wine harness ($1) ran to its end" $status
}

# The test builds' own tests come first, and count apart from the zip's.
# One word per route.
[ -z "$full_routes" ] || harness 1200 unit-tests $full_routes

unpack() {
    rm -rf "$artifacts/zip" && mkdir -p "$artifacts/zip" &&
        unzip -q "$zip" -d "$artifacts/zip" &&
        [ -f "$shipped/32-bit/hwidwin.exe" ] && [ -f "$shipped/64-bit/hwidwin.exe" ]
}

# What the zip's programs went through, for its proof line: sets $what. A
# width that did not run for want of a working loader fails the proof.
what_ran() {
    local width route ran=""
    for width in 32 64; do
        route=win$width
        case " $routes " in
            *" $route "*) ;;
            *)
                if [ "$route" = win32 ] && [ -n "$not_run_because" ]; then
                    ran="$ran; 32-bit/hwidwin.exe not run ($not_run_because)"
                else
                    record "$width-bit/hwidwin.exe ran under Wine" 1 "its loader failed, see above"
                fi
                continue ;;
        esac
        case " ${HWID_SHORT_ROUTES:-} " in
            *" $route "*)
                ran="$ran; $width-bit/hwidwin.exe under Wine on qemu-i386: window and table"
                ran="$ran beside planted DLLs, --generate" ;;
            *)
                ran="$ran; $width-bit/hwidwin.exe under Wine: window, table, Copy, Refresh,"
                ran="$ran Quit, message boxes, planted DLLs, 40 more adapters" ;;
        esac
    done
    what=${ran#; }
}

proof_begin
if check "$zip_name.zip unpacked (32-bit/ and 64-bit/hwidwin.exe)" unpack; then
    [ -z "$routes" ] || harness 2400 program "$shipped" $routes
fi
what_ran
proven "$zip_name.zip" "$what"
finish
