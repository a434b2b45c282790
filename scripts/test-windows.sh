#!/bin/bash
# The Windows program's whole test route: installs what is missing, cross-
# builds hwidwin for i686 and x86_64 with warnings as errors, then runs the
# Windows-side unit tests and the program itself under Wine and Xvfb inside
# a private network namespace with known adapters.
#
# Some kernels run no 32-bit x86 program at all, and so no 32-bit Wine
# (checked with a minimal static 32-bit program). There both builds are
# still made and their imports checked, the x86_64 build runs its whole
# route under Wine's 64-bit loader, and the i686 build a short route under
# Wine's 32-bit loader emulated by qemu-user, which binfmt_misc starts for
# i386 programs during this run only. Without qemu-i386 (outside CI), and
# with HWID_WINE64_ONLY=1 on any machine, the i686 route is reported as one
# SKIP line. A Wine loader that the kernel would run but that does not
# start is a failure. HWID_I386_UNDER_QEMU=1 takes the emulated route on a
# kernel that runs 32-bit programs too (its binfmt_misc entry then outranks
# the kernel's own loader for the run).
#
# Needs root (apt-get, namespaces, binfmt_misc). Without root it prints a
# SKIP line and exits 0. Ends with the line "N passed, M failed, K skipped";
# exits 1 on any failure. About 3-5 minutes on 2 cores once the packages are
# in place, about 5 more under emulation. Interrupted, it ends the harness
# with its Xvfb and Wine server and removes its binfmt_misc entry.
. "$(dirname "$0")/guard.sh"
. "$(dirname "$0")/binfmt.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

if [ "$(id -u)" != 0 ]; then
    echo "SKIP [windows] not root: the Windows tests need root (apt-get, network and mount namespaces)"
    exit 0
fi

log() { echo "== $*"; }

results="$root/build-wine-artifacts/results.txt"
mkdir -p "$root/build-wine-artifacts"
: > "$results"
. "$root/tests/wine/record.sh"

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
        scripts/check-shipped.py --objects "${arch%%:*}=$dir" "$dir/windows/hwidwin.exe"
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
only_win64() {
    routes="build-win64"
    export WINEPREFIX="$root/build-wine-prefix-64"
    use_wine64
}
skip_win32() {
    echo "SKIP [win32] i686 route under Wine: $1" | tee -a "$results"
    only_win64
}
# Whether this kernel runs 32-bit x86 programs: a static one that only
# exits, made with binutils. Prints "yes" or "no"; fails when it cannot
# tell.
kernel_runs_32bit() {
    local dir="$root/build-wine-artifacts/i386-exit"
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
    echo "SKIP [win32] i686 unit tests and full route under Wine: $why;" \
        "ran the short route under qemu-i386" | tee -a "$results"
    routes="build-win64 build-win32"
    export HWID_SHORT_ROUTES=build-win32
    use_wine64
}
choose_routes
case " $routes " in
    *" build-win64 "*) loader_starts "${WINELOADER:-/usr/lib/wine/wine64}" || routes=${routes/build-win64/} ;;
esac
routes=$(echo $routes)
log "Wine routes: ${routes:-none} (loader: ${WINELOADER:-/usr/bin/wine})"

# Wine must start afresh inside the namespace: a server left running
# outside would report the host's adapters.
wineserver -k 2>/dev/null
timeout 20 wineserver -w 2>/dev/null

if [ -n "$routes" ]; then
    log "running under Wine in private network, mount and process namespaces"
    # Whatever the harness starts (Xvfb, the Wine server, the programs)
    # lives in its process namespace and ends with it.
    HWID_HOST_MOUNT_NS=$(readlink /proc/self/ns/mnt)
    export HWID_HOST_MOUNT_NS
    # One word per build folder.
    timeout 2400 unshare -nmp --fork --kill-child=TERM --mount-proc -- \
        "$root/tests/wine/run-under-wine.sh" "$root" "$results" $routes
    status=$?
    [ $status = 0 ] || record "wine harness finished" $status
fi

passed=$(grep -c '^PASS ' "$results")
failed=$(grep -c '^FAIL ' "$results")
skipped=$(grep -c '^SKIP ' "$results")
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
