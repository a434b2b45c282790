# shellcheck shell=bash
# Sourced first by each Wine harness (unit-tests.sh, program.sh, library.sh),
# which scripts/test-windows.sh starts inside `unshare -nmp` with routes
# (win32, win64): fabricates the network adapters, makes the Wine prefix,
# starts Xvfb and a fresh Wine server. Counts into the caller's $HWID_CHECKS;
# HWID_VERSION is the version the shipped programs state. Routes named in
# HWID_SHORT_ROUTES run emulated, where a program takes minutes to start.
#
# It mounts over /tmp and /sys, so it refuses to start unless it runs in a
# mount namespace other than HWID_HOST_MOUNT_NS (the caller's).
. "$(dirname "$0")/../../scripts/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/../../scripts/checks.sh"
set -u
if [ -z "${HWID_HOST_MOUNT_NS:-}" ] || [ "$(readlink /proc/self/ns/mnt)" = "$HWID_HOST_MOUNT_NS" ]; then
    echo "$0: not in a private mount namespace; start it with scripts/test-windows.sh" >&2
    exit 1
fi
root=$(cd "$(dirname "$0")/../.." && pwd) version=${HWID_VERSION:?the version the programs state}
artifacts="$root/build-wine-artifacts"

# A private /tmp keeps this Wine server and X display apart from any other.
# The repository may itself live below /tmp (a CI clone): carry it over
# through a descriptor of the old /tmp.
exec 8</tmp
mount -t tmpfs tmpfs /tmp || exit 1
case "$root" in
    /tmp/*)
        mkdir -p "$root" &&
            mount --no-canonicalize --bind "/proc/self/fd/8/${root#/tmp/}" "$root" || exit 1 ;;
esac
exec 8<&-
mount -t sysfs sysfs /sys || exit 1
work=/tmp/hwid-wine
mkdir -p "$work"

# An adapter counts only once the kernel shows it with its address: every
# table the checks expect is worked out from what is there, so one that
# failed to appear would otherwise go unnoticed.
set_mac() {  # name, mac
    ip link set dev "$1" address "$2" && [ "$(cat "/sys/class/net/$1/address")" = "$2" ]
}
add_tap() { ip tuntap add dev "$1" mode tap && set_mac "$1" "$2"; }
# name=mac of the Ethernet interfaces, one a line, in the kernel's order.
adapters() {
    ip -o link show | awk '{ sub(/(@.*)?:$/, "", $2)
        for (i = 3; i < NF; i++) if ($i == "link/ether") print $2 "=" $(i + 1) }'
}
fabricate() {
    ip link set lo up && ip link add br0 type bridge && set_mac br0 0a:1b:2c:3d:4e:5f &&
        add_tap tap0 02:11:22:33:44:55 && ip link add veth0 type veth peer name veth1 &&
        set_mac veth0 02:aa:bb:cc:dd:01 && set_mac veth1 02:aa:bb:cc:dd:02 &&
        [ "$(adapters | wc -l)" = 4 ]
}
check "network namespace: br0, tap0, veth0, veth1 with their addresses" fabricate || exit 1

# The text expected for the adapters there now (as for the Linux machines).
expected() {  # format, file
    adapters | xargs python3 "$root/tests/lib/fabric.py" expected --format "$1" \
        --version "$version" >"$2"
}

export WINEPREFIX="${WINEPREFIX:-$root/build-wine-prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
# Made once, and marked only when wineboot succeeded: a prefix it left half
# made is made again. Minutes where the 32-bit half is emulated.
prefix_made() {
    [ -f "$WINEPREFIX/hwid-prefix-made" ] && return 0
    env -u DISPLAY timeout 600 wineboot -i >"$artifacts/wineboot.log" 2>&1 ||
        { echo "wineboot -i gave status $?; see $artifacts/wineboot.log"; return 1; }
    touch "$WINEPREFIX/hwid-prefix-made"
}
wine_reg_add() { env -u DISPLAY timeout 60 wine reg add "$@" /f >/dev/null 2>&1; }
stop_wine() { wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null; }
# No window manager: unmanaged windows close at once and keep their title.
# As on Windows, "Courier New" is a fixed-pitch face.
check "wine prefix made (wineboot -i)" prefix_made &&
    check "wine prefix: windows unmanaged" \
        wine_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N &&
    check "wine prefix: Courier New is Liberation Mono" wine_reg_add \
        'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' || exit 1
stop_wine

Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
# Wine first: a server that loses its display mid-way stalls.
at_exit "stop_wine; kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null"
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

short_route() { case " ${HWID_SHORT_ROUTES:-} " in *" $1 "*) return 0 ;; esac; return 1; }

# CASES for each route ($arch, its output folder $out) once SETUP passed, then
# MANY for each full one once there are more adapters than the probe's first
# listing buffer (32 entries) holds. Those come last: Wine keeps listing an
# interface once seen, so none is ever deleted.
many_adapters() {
    local i
    for i in $(seq 40); do add_tap "tapx$i" "$(printf '02:00:00:00:01:%02x' "$i")" || return 1; done
    [ "$(adapters | wc -l)" -gt 32 ]
}
for_routes() {  # setup, cases, many, routes...
    local setup=$1 cases=$2 many=$3 full=""
    shift 3
    for arch in "$@"; do
        out="$artifacts/$arch" && mkdir -p "$out" && "$setup" && "$cases"
        short_route "$arch" || full+=" $arch"
    done
    [ -n "$full" ] || return 0
    check "40 more adapters, more than the probe's first buffer holds" many_adapters || exit 1
    for arch in $full; do out="$artifacts/$arch" && "$setup" && "$many"; done
}

# The shipped program of a route and what drives it: winprobe and the planted
# DLLs of the test build build-ROUTE; an emulated route is driven by the
# x86_64 build's winprobe.
# shellcheck disable=SC2034 # wine_app: for the harness that sources this
route_setup() {  # the program
    exe=$1 wine_app=wine patience=30  # seconds for a window or message box to turn up
    probe="$root/build-$arch/tests-wine/winprobe.exe" planted_dlls="$root/build-$arch/tests-wine/planted"
    if short_route "$arch"; then
        wine_app="env -u WINELOADER /usr/lib/wine/wine" patience=300
        probe="$root/build-win64/tests-wine/winprobe.exe"
    fi
    [ -f "$exe" ] && [ -f "$probe" ] || record "[$arch] $exe and winprobe.exe present" 1
}
W() { timeout $((patience + 30)) wine "$probe" "$@"; }

# Run from a downloads folder, a program would find DLLs a web page put there
# under the names of system DLLs that are no KnownDLLs; Wine, told to prefer
# them to its own, loads them as Windows would. None of them may load.
# A fresh folder holding FILES and every planted DLL; $names lists the
# planted ones for WINEDLLOVERRIDES, empty when the folder could not be made.
# shellcheck disable=SC2034 # names: for the harness that sources this
plant() {  # folder, files...
    names=""
    rm -rf "$1" && mkdir -p "$1" && cp "${@:2}" "$planted_dlls/"*.dll "$1/" &&
        names=$(cd "$planted_dlls" && ls -- *.dll | sed 's/\.dll$//' | paste -sd, -)
}
# The planted DLLs a run loaded from the folder: each leaves its mark there.
loaded_from() {  # folder
    (cd "$1" && ls -- *.loaded 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/\.dll\.loaded$//' | paste -sd' ' -)
}
