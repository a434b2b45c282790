#!/bin/bash
# The Windows program's whole test route: installs what is missing, cross-
# builds hwidwin for i686 and x86_64 with warnings as errors, then runs the
# Windows-side unit tests and the program itself under Wine and Xvfb inside
# a private network namespace with known adapters.
#
# Some kernels run no 32-bit x86 program at all, and so no 32-bit Wine.
# There both builds are still made and their imports checked, the x86_64
# build runs its whole route under Wine's 64-bit loader, and the i686 build
# a short route under Wine's 32-bit loader emulated by qemu-user, which
# binfmt_misc starts for i386 programs during this stage only. Without
# qemu-i386, and with HWID_WINE64_ONLY=1 on any machine, the i686 route is
# reported as one SKIP line. If no Wine loader runs at all, the stage fails.
# HWID_I386_UNDER_QEMU=1 takes the emulated route on a kernel that runs
# 32-bit programs too (its binfmt_misc entry then outranks the kernel's own
# loader for the stage).
#
# Needs root (apt-get, namespaces, binfmt_misc). Without root it prints a
# SKIP line and exits 0. Ends with the line "N passed, M failed, K skipped";
# exits 1 on any failure. About 3-5 minutes on 2 cores once the packages are
# in place, about 5 more under emulation.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: scripts/test-windows.sh needs root (apt-get, network and mount namespaces)"
    exit 0
fi

log() { echo "== $*"; }

results="$root/build-wine-artifacts/results.txt"
mkdir -p "$root/build-wine-artifacts"
: > "$results"
record() {  # record NAME STATUS
    if [ "$2" = 0 ]; then echo "PASS $1" | tee -a "$results"; else echo "FAIL $1" | tee -a "$results"; fi
}

timeout 1500 scripts/install-deps.sh build windows googletest libgtest-dev iproute2 util-linux \
    qemu-user-static
record "install packages" $?

for arch in win32:i686 win64:x86_64; do
    dir="build-${arch%%:*}"
    triple="${arch#*:}-w64-mingw32"
    log "building $dir"
    timeout 600 cmake -S . -B "$dir" --toolchain "cmake/$triple.cmake" -DHWID_WERROR=ON \
        >"build-wine-artifacts/configure-$dir.log" 2>&1 &&
        timeout 900 cmake --build "$dir" -j"$(nproc)" >"build-wine-artifacts/build-$dir.log" 2>&1
    status=$?
    [ $status = 0 ] || tail -n 30 "build-wine-artifacts/build-$dir.log" 2>/dev/null
    record "build $dir" $status
    if [ $status = 0 ]; then
        scripts/check-shipped.py "$dir/windows/hwidwin.exe"
        record "$dir hwidwin.exe hardened, imports only system DLLs" $?
    fi
done

# Which builds can run here. Debian's `wine` prefers the 32-bit loader and
# its helper scripts (wineboot) call `wine-stable`: for the 64-bit-only route
# both names lead to the 64-bit loader, through a folder put first on PATH.
routes="build-win32 build-win64"
export WINEPREFIX="$root/build-wine-prefix"
use_wine64() {
    export WINELOADER=/usr/lib/wine/wine64
    local shims="$root/build-wine-artifacts/wine64-loader"
    mkdir -p "$shims"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shims/wine"
    chmod 755 "$shims/wine"
    ln -sf wine "$shims/wine-stable"
    export PATH="$shims:$PATH"
}
skip_win32() {
    echo "SKIP [win32] i686 route under Wine: $1" | tee -a "$results"
    routes="build-win64"
    export WINEPREFIX="$root/build-wine-prefix-64"
    use_wine64
}
# An entry of binfmt_misc outranks the kernel's own loader: it is made only
# where the kernel refuses 32-bit programs (or when asked to), and removed
# when the stage ends.
binfmt=/proc/sys/fs/binfmt_misc
emulate_i386() {
    [ -x /usr/bin/qemu-i386-static ] || return 1
    [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    trap 'echo -1 >"$binfmt/hwid-qemu-i386" 2>/dev/null' EXIT
    trap 'exit 130' INT TERM
    printf '%s' ':hwid-qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FP' \
        >"$binfmt/register" && /usr/lib/wine/wine --version >/dev/null 2>&1
}
if [ "${HWID_WINE64_ONLY:-0}" = 1 ]; then
    skip_win32 "HWID_WINE64_ONLY=1 asks for the 64-bit route only"
elif [ "${HWID_I386_UNDER_QEMU:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    :
elif emulate_i386; then
    # A program takes minutes to start there: one prefix with both halves,
    # the x86_64 route as on such a kernel, and a short i686 route.
    why="this kernel runs no 32-bit programs"
    [ "${HWID_I386_UNDER_QEMU:-0}" != 1 ] || why="HWID_I386_UNDER_QEMU=1 asks for emulation"
    echo "SKIP [win32] i686 unit tests and full route under Wine: $why;" \
        "ran the short route under qemu-i386" | tee -a "$results"
    routes="build-win64 build-win32"
    export HWID_SHORT_ROUTES=build-win32
    use_wine64
else
    skip_win32 "this kernel runs no 32-bit programs (nor qemu-i386 Wine's 32-bit loader)"
fi
if [ "$routes" = build-win64 ] && ! /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    record "a Wine loader runs here (neither the 32-bit nor the 64-bit one starts)" 1
    routes=""
fi
log "Wine routes: ${routes:-none} (loader: ${WINELOADER:-/usr/bin/wine})"

# Wine must start afresh inside the namespace: a server left running
# outside would report the host's adapters.
wineserver -k 2>/dev/null
timeout 20 wineserver -w 2>/dev/null

if [ -n "$routes" ]; then
    log "running under Wine in a private network namespace"
    # One word per build folder.
    timeout 2400 unshare -nm -- bash "$root/tests/wine/run-under-wine.sh" "$root" "$results" \
        $routes
    status=$?
    [ $status = 0 ] || record "wine harness finished" $status
fi

passed=$(grep -c '^PASS ' "$results")
failed=$(grep -c '^FAIL ' "$results")
skipped=$(grep -c '^SKIP ' "$results")
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
