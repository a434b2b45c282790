#!/bin/bash
# The Windows program's whole test route: installs what is missing, cross-
# builds hwidwin for i686 and x86_64 with warnings as errors, then runs the
# Windows-side unit tests and the program itself under Wine and Xvfb inside
# a private network namespace with known adapters.
#
# Needs root (apt-get, namespaces). Without root it prints a SKIP line and
# exits 0. Ends with the line "N passed, M failed"; exits 1 on any failure.
# About 3-5 minutes on 2 cores once the packages are in place.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: scripts/test-windows.sh needs root (apt-get, network and mount namespaces)"
    exit 0
fi

log() { echo "== $*"; }

install_missing() {
    local wanted=(cmake make g++ mingw-w64 wine wine32 wine64 xvfb xdotool imagemagick
                  fonts-liberation googletest iproute2 util-linux libpystring-dev
                  libgtest-dev)
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    if [[ " ${missing[*]} " == *" wine32 "* ]] &&
       ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    timeout 600 apt-get update -qq &&
        timeout 900 apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

results="$root/build-wine-artifacts/results.txt"
mkdir -p "$root/build-wine-artifacts"
: > "$results"
record() {  # record NAME STATUS
    if [ "$2" = 0 ]; then echo "PASS $1" | tee -a "$results"; else echo "FAIL $1" | tee -a "$results"; fi
}

if ! install_missing; then
    record "install packages" 1
fi

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
        imports=$("$triple-objdump" -p "$dir/windows/hwidwin.exe" | sed -n 's/.*DLL Name: //p' |
                  tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
        echo "   $dir/windows/hwidwin.exe imports: $imports"
        bad=$(echo "$imports" | tr ' ' '\n' |
              grep -Ev '^(|gdi32\.dll|iphlpapi\.dll|kernel32\.dll|msvcrt\.dll|setupapi\.dll|shell32\.dll|user32\.dll|comctl32\.dll)$' || true)
        [ -z "$bad" ]
        record "$dir hwidwin.exe imports only system DLLs" $?
    fi
done

# Wine must start afresh inside the namespace: a server left running
# outside would report the host's adapters.
export WINEPREFIX="$root/build-wine-prefix"
wineserver -k 2>/dev/null
timeout 20 wineserver -w 2>/dev/null

log "running under Wine in a private network namespace"
timeout 1200 unshare -nm -- bash "$root/tests/wine/run-under-wine.sh" "$root" "$results" \
    build-win32 build-win64
status=$?
[ $status = 0 ] || record "wine harness finished" $status

passed=$(grep -c '^PASS ' "$results")
failed=$(grep -c '^FAIL ' "$results")
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
