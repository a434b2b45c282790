#!/bin/bash
# Runs inside `unshare -nmp` (see scripts/test-windows.sh): fabricates the
# machine's network adapters, starts Xvfb and a fresh Wine server, and then
# either runs the Windows-side unit tests of the test builds, or proves the
# shipped hwidwin.exe of each route end to end.
#
# Usage: run-under-wine.sh REPO_ROOT unit-tests ROUTE...
#        run-under-wine.sh REPO_ROOT program SHIPPED_FOLDER ROUTE...
# A ROUTE is win32 or win64. SHIPPED_FOLDER is the Windows zip unpacked (its
# top folder, holding 32-bit/ and 64-bit/hwidwin.exe); the test build
# build-ROUTE supplies only what drives and watches the program (winprobe,
# the planted DLLs). Counts with scripts/checks.sh into the caller's
# $HWID_CHECKS. The routes named in HWID_SHORT_ROUTES run emulated
# (qemu-user), where a program takes minutes to start: they only open the
# window, with DLLs planted beside the program, and show one Hardware ID,
# driven by the x86_64 build's winprobe.
#
# It mounts over /tmp and /sys, so it refuses to start unless it runs in a
# mount namespace other than HWID_HOST_MOUNT_NS (the caller's).
. "$(dirname "$0")/../../scripts/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/../../scripts/checks.sh"
set -u
if [ -z "${HWID_HOST_MOUNT_NS:-}" ] || [ "$(readlink /proc/self/ns/mnt)" = "$HWID_HOST_MOUNT_NS" ]; then
    echo "run-under-wine.sh: not in a private mount namespace; start it with scripts/test-windows.sh" >&2
    exit 1
fi
root=$1
mode=$2
shift 2
shipped=""
if [ "$mode" = program ]; then
    shipped=$1
    shift
fi
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

# An adapter is there only once the kernel shows it with its address: every
# table the checks expect is worked out from what is there, so an adapter
# that failed to appear would otherwise go unnoticed.
has_address() {  # name, mac
    [ "$(cat "/sys/class/net/$1/address" 2>/dev/null)" = "$2" ]
}
add_tap() {  # name, mac
    ip tuntap add dev "$1" mode tap && ip link set dev "$1" address "$2" && has_address "$1" "$2"
}

# "name=mac,..." of the Ethernet interfaces, in the kernel's order.
adapters() {
    ip -o link show | awk -F': ' '$2 != "lo" { split($2, n, "@"); print n[1] }' |
    while read -r name; do
        printf '%s=%s,' "$name" "$(cat "/sys/class/net/$name/address")"
    done | sed 's/,$//'
}
adapter_count() { adapters | tr ',' '\n' | grep -c .; }

# The fabricated machine: Ethernet-type interfaces with chosen addresses.
fabricate() {
    ip link set lo up &&
        ip link add br0 type bridge && ip link set dev br0 address 0a:1b:2c:3d:4e:5f &&
        add_tap tap0 02:11:22:33:44:55 &&
        ip link add veth0 type veth peer name veth1 &&
        ip link set dev veth0 address 02:aa:bb:cc:dd:01 &&
        ip link set dev veth1 address 02:aa:bb:cc:dd:02 &&
        has_address br0 0a:1b:2c:3d:4e:5f && has_address veth0 02:aa:bb:cc:dd:01 &&
        has_address veth1 02:aa:bb:cc:dd:02 && [ "$(adapter_count)" = 4 ]
}
check "network namespace: br0, tap0, veth0, veth1 with their addresses" fabricate || exit 1

# More adapters than the probe's first listing buffer (32 entries) holds.
# (Wine keeps listing an interface once seen, so none is ever deleted here.)
many_adapters() {
    local i
    for i in $(seq 40); do
        add_tap "tapx$i" "$(printf '02:00:00:00:01:%02x' "$i")" || return 1
    done
    [ "$(adapter_count)" -gt 32 ]
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
check "wine prefix made (wineboot -i)" prefix_made || exit 1
# No window manager: unmanaged windows close at once and keep their title.
check "wine prefix: windows unmanaged" \
    wine_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N || exit 1
# As on Windows, "Courier New" is a fixed-pitch face.
check "wine prefix: Courier New is Liberation Mono" \
    wine_reg_add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' ||
    exit 1
wineserver -k 2>/dev/null
timeout 20 wineserver -w 2>/dev/null

Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
at_exit cleanup
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# Wine first: a server that loses its display mid-way stalls.
cleanup() {
    wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}

short_route() { case " ${HWID_SHORT_ROUTES:-} " in *" $1 "*) return 0 ;; esac; return 1; }

# GoogleTest's count of tests that passed: skipped ones are not among them.
gtest_passed() {  # log
    tr -d '\r' <"$1" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' | tail -n 1
}
# "TEST: reason" for each test that skipped itself: the reason is the line
# after GoogleTest's "FILE:LINE: Skipped".
gtest_skipped() {  # log
    tr -d '\r' <"$1" | awk '
        / Skipped$/ { getline reason; next }
        /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ {
            print $4 ": " (reason == "" ? "no reason given" : reason)
            reason = ""
        }'
}

# gtest_case NAME LOG EVERY_TEST COMMAND...: a unit test program under Wine
# passes when it exits 0 having passed at least one test (a filter that
# matches nothing after a rename runs none, and still exits 0). A test that
# skipped itself is a SKIP line with its reason; where EVERY_TEST is "all",
# the run was set up for those very tests, and a skip is a failure.
gtest_case() {
    local name=$1 log=$2 every=$3 status passed skipped test
    shift 3
    timeout 180 "$@" >"$log" 2>&1
    status=$?
    passed=$(gtest_passed "$log")
    skipped=$(gtest_skipped "$log")
    if [ -n "$skipped" ] && [ "$every" = all ]; then
        record "$name" 1 "skipped: $(echo "$skipped" | paste -sd';' -); see $log"
        return
    fi
    while read -r test; do
        [ -z "$test" ] || skip "$name: $test"
    done <<<"$skipped"
    [ $status = 0 ] && [ "${passed:-0}" -gt 0 ]
    record "$name" $? "status $status, ${passed:-no} tests passed; see $log"
}

# The tests that only a double-byte code page can check; they skip in any
# other and run in one of their own.
dbcs_tests='EntryTest.Unsplittable*:CommandLineToArgvATest.CountUntouched*'

unit_tests() {  # route
    local arch=$1 build="$root/build-$1" out="$artifacts/$1"
    mkdir -p "$out"
    # On this namespace's adapters. Wine's SetupAPI lists no disk
    # interfaces: the disk walk finds nothing.
    gtest_case "[$arch] windows_probe_tests" "$out/windows_probe_tests.log" some \
        env HWID_EXPECTED_ADAPTERS="$(adapters)" HWID_EXPECTED_DISK_RECORDS=0 \
        wine "$build/windows/windows_probe_tests.exe"
    gtest_case "[$arch] windows_ui_tests" "$out/windows_ui_tests.log" some \
        wine "$build/windows/windows_ui_tests.exe" --gtest_filter="-$dbcs_tests"
    # A double-byte code page has byte sequences that cannot be split.
    gtest_case "[$arch] unsplittable command line (code page 932)" \
        "$out/windows_ui_tests-cp932.log" all env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \
        wine "$build/windows/windows_ui_tests.exe" --gtest_filter="$dbcs_tests"
}

many_adapter_unit_tests() {  # route
    local arch=$1 out="$artifacts/$1"
    gtest_case "[$arch] probe lists all $(adapter_count) adapters (buffer overflow retried)" \
        "$out/many-adapters.log" all env HWID_EXPECTED_ADAPTERS="$(adapters)" \
        wine "$root/build-$arch/windows/windows_probe_tests.exe" \
        --gtest_filter='RealAdapterProbeTest.*'
}

if [ "$mode" = unit-tests ]; then
    for arch in "$@"; do unit_tests "$arch"; done
    check "40 more adapters, more than the probe's first buffer holds" many_adapters || exit 1
    for arch in "$@"; do many_adapter_unit_tests "$arch"; done
    exit 0
fi

hash_of() { printf '%s' "$1" | md5sum | cut -c1-32 | tr 'a-f' 'A-F'; }

# The display text and the copy text expected for the current adapters.
expect_texts() {  # expect_texts DISPLAY_FILE COPY_FILE
    {
        printf 'ZEF Version: 2.26.0.0\r\n\r\n'
        printf '\nAvailable unique ids:\r\n\r\n'
        printf '%-10s%-35s%-43s\r\n' TYPE 'Hardware ID' Comment
        printf '%s\r\n' "$(printf '%088d' 0 | tr 0 -)"
        local item id
        for item in $(adapters | tr ',' ' '); do
            id=$(echo "${item#*=}" | tr -d ':')
            printf '%-10s%-35s%-43s\r\n' NIC "$(hash_of "$id")" "${item%%=*}"
        done
    } >"$2"
    {
        cat "$2"
        printf '\r\n\r\n\r\nPress Copy text to Clipboard button and email this text to: '
        printf 'support@zef.example\r\n'
    } >"$1"
}

# The clipboard is set by the program's window procedure a moment after the
# click: read it until it matches, or give up after about five seconds.
await_clipboard() {  # await_clipboard EXPECTED_FILE ACTUAL_FILE
    for _ in $(seq 50); do
        W clipboard >"$2" 2>/dev/null
        cmp -s "$1" "$2" && return 0
        sleep 0.1
    done
}

same() {  # same NAME EXPECTED_FILE ACTUAL_FILE
    if cmp -s "$2" "$3"; then
        record "$1" 0
    else
        record "$1" 1 "differs: expected $2, got $3"
    fi
}

title="ZEF Hardware ID (2.26.0.0)"

# The shipped program of a route and what drives it.
route_setup() {  # route
    arch=$1
    exe="$shipped/${arch#win}-bit/hwidwin.exe"
    probe="$root/build-$arch/tests-wine/winprobe.exe"
    planted_dlls="$root/build-$arch/tests-wine/planted"
    wine_app=wine
    patience=30  # seconds for a window or message box to turn up
    if short_route "$arch"; then
        wine_app="env -u WINELOADER /usr/lib/wine/wine"
        patience=300
        probe="$root/build-win64/tests-wine/winprobe.exe"
    fi
    out="$artifacts/$arch"
    mkdir -p "$out"
    progname="Z:$(echo "$exe" | tr / '\\')"
}
W() { timeout $((patience + 30)) wine "$probe" "$@"; }
start_app() {  # in the program's folder, as a double click starts it
    rm -f "$work/app.rc"
    ( cd "$(dirname "$exe")" &&
          timeout $((patience * 4)) $wine_app "$exe" "$@" >/dev/null 2>&1
      echo $? >"$work/app.rc" ) &
    app_pid=$!
}
app_status() {  # waits (bounded) for the program to end; prints its status
    for _ in $(seq $((patience * 5))); do [ -s "$work/app.rc" ] && break; sleep 0.1; done
    wait "$app_pid" 2>/dev/null
    cat "$work/app.rc" 2>/dev/null || echo none
}
# message_case NAME CAPTION EXPECTED_FILE EXPECTED_STATUS ARGS...
message_case() {
    local name=$1 caption=$2 expected=$3 status=$4
    shift 4
    start_app "$@"
    W messagebox "$caption" "$patience" >"$out/$name.txt"
    local box=$?
    local rc
    rc=$(app_status)
    if [ $box != 0 ]; then
        record "[$arch] $name" 1 "no message box captioned '$caption'"
    elif ! cmp -s "$expected" "$out/$name.txt"; then
        record "[$arch] $name" 1 "text differs: $expected vs $out/$name.txt"
    else
        [ "$rc" = "$status" ]
        record "[$arch] $name" $? "exit status $rc, expected $status"
    fi
}
# Run from a downloads folder, the program would find DLLs a web page put
# there under the names of system DLLs that are no KnownDLLs; Wine, told
# to prefer them to its own, loads them as Windows would. The window still
# shows its table, and none of them is loaded.
planted_case() {
    local planted="$work/planted-$arch" names loaded rc
    rm -rf "$planted" && mkdir -p "$planted" &&
        cp "$exe" "$planted_dlls/"*.dll "$planted/"
    names=$(cd "$planted" && ls ./*.dll | sed 's|^\./||; s|\.dll$||' | paste -sd, -)
    expect_texts "$out/expected-display.txt" "$out/expected-copy.txt"
    W acp >/dev/null  # Wine's desktop and services start outside that folder
    : >"$out/display-planted.txt"
    exe="$planted/hwidwin.exe" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$names=n,b" start_app
    W wait "$title" "$patience" && W text "$title" >"$out/display-planted.txt" &&
        W click "$title" 2
    rc=$(app_status)
    loaded=$(cd "$planted" && ls ./*.loaded 2>/dev/null | tr 'A-Z' 'a-z' |
             sed 's|^\./||; s|\.dll\.loaded$||' | paste -sd' ' -)
    [ -n "$names" ] && cmp -s "$out/expected-display.txt" "$out/display-planted.txt" &&
        [ -z "$loaded" ] && [ "$rc" = 0 ]
    record "[$arch] window shows its table, loads no DLL planted beside it" $? \
        "loaded: ${loaded:-none}, status $rc, see $out/display-planted.txt"
}

# Refresh after an adapter appeared.
refresh_case() {
    local mac="02:77:66:55:44:${arch#win}"
    if ! check "[$arch] adapter tapr$arch added with $mac" add_tap "tapr$arch" "$mac"; then
        record "[$arch] Refresh shows a new adapter" 1 "no adapter was added"
        return
    fi
    expect_texts "$out/expected-display-refresh.txt" "$out/expected-copy-refresh.txt"
    W click "$title" 4
    for _ in $(seq 50); do
        W text "$title" >"$out/display-refresh.txt"
        cmp -s "$out/expected-display-refresh.txt" "$out/display-refresh.txt" && break
        sleep 0.2
    done
    same "[$arch] Refresh shows a new adapter" "$out/expected-display-refresh.txt" \
        "$out/display-refresh.txt"
    W click "$title" 3
    await_clipboard "$out/expected-copy-refresh.txt" "$out/clipboard-refresh.txt"
    same "[$arch] Copy after Refresh copies the new table" "$out/expected-copy-refresh.txt" \
        "$out/clipboard-refresh.txt"
}

# The window, its table and buttons, Copy, Refresh and Quit.
window_cases() {
    expect_texts "$out/expected-display.txt" "$out/expected-copy.txt"
    start_app
    if ! W wait "$title" 30; then
        record "[$arch] window opens" 1 "no window titled '$title'"
        app_status >/dev/null
        return
    fi
    record "[$arch] window opens" 0
    W text "$title" >"$out/display.txt"
    same "[$arch] window shows the adapters' table" "$out/expected-display.txt" "$out/display.txt"

    W window "$title" >"$out/window.txt"
    W controls "$title" >"$out/controls.txt"
    cat >"$out/expected-controls.txt" <<'LAYOUT'
Edit 0 0 0 1003 304 50200844 00000200 -
Button 4 342 307 75 30 50000001 00000200 Refresh
Button 3 417 307 190 30 50000001 00000200 Copy text to Clipboard
Button 2 607 307 75 30 50000001 00000200 Quit
LAYOUT
    grep -v '^tooltip' "$out/controls.txt" >"$out/controls-children.txt"
    same "[$arch] text area and buttons" "$out/expected-controls.txt" "$out/controls-children.txt"
    local exstyle width height rc geometry
    read -r _ exstyle width height <"$out/window.txt"
    [ "$(grep -c '^tooltip 8.....41$' "$out/controls.txt")" = 4 ] &&
        [ "$width $height" = "1024 380" ] && [ $((0x${exstyle:-0} & 0x200)) != 0 ]
    record "[$arch] 1024x380 window with four balloon tooltips" $? "$(cat "$out/window.txt")"

    # Let the X server draw, then keep a picture of the window.
    sleep 1
    geometry=$(xdotool search --onlyvisible --name "^${title//[()]/.}\$" getwindowgeometry 2>/dev/null |
               sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/+\1+\2/p' | head -n 1)
    import -window root -crop "1024x380${geometry:-+0+0}" +repage "$out/hwidwin-window.png" \
        2>/dev/null
    [ -s "$out/hwidwin-window.png" ]
    record "[$arch] screenshot $out/hwidwin-window.png" $?

    # Copy: exactly the copy text, as CF_TEXT.
    W click "$title" 3
    await_clipboard "$out/expected-copy.txt" "$out/clipboard.txt"
    same "[$arch] Copy puts the copy text on the clipboard" "$out/expected-copy.txt" \
        "$out/clipboard.txt"

    # Copy while another program holds the clipboard.
    ( W hold-clipboard 6 >"$work/holding" ) &
    local holder=$!
    for _ in $(seq 50); do [ -s "$work/holding" ] && break; sleep 0.1; done
    W click "$title" 3
    W messagebox "Error!" 10 >"$out/busy.txt"
    wait "$holder"
    printf 'Error copying string to clipboard' >"$out/expected-busy.txt"
    cmp -s "$out/expected-busy.txt" "$out/busy.txt" && W wait "$title" 5
    record "[$arch] Copy on a held clipboard reports the error, window stays" $?

    refresh_case

    # Quit ends with status 0; so does a close request from the system.
    W click "$title" 2
    rc=$(app_status)
    [ "$rc" = 0 ]
    record "[$arch] Quit ends with status 0" $? "status $rc"
    start_app
    W wait "$title" 30 && W close "$title"
    rc=$(app_status)
    [ "$rc" = 0 ]
    record "[$arch] close request ends with status 0" $? "status $rc"
}

# The hashing command, and the usage text for everything else.
message_cases() {
    printf '\r\n: D41D8CD98F00B204E9800998ECF8427E' >"$out/expected-empty.txt"
    message_case generate-empty "Generated Hardware ID" "$out/expected-empty.txt" 0 --generate ''
    local long i many=()
    long=$(head -c 30000 /dev/zero | tr '\0' 'x')
    printf '\r\n%s: %s' "$long" "$(hash_of "$long")" >"$out/expected-long.txt"
    message_case generate-30000 "Generated Hardware ID" "$out/expected-long.txt" 0 --generate "$long"
    if [ "$(W acp | tr -d '\r')" = 1252 ]; then
        # Wine hands the UTF-8 argument over as Unicode; the program sees
        # and hashes its bytes in code page 1252.
        { printf '\r\n\xe9t\xe9 \xfc: '; printf '\xe9t\xe9 \xfc' | md5sum | cut -c1-32 |
          tr -d '\n' | tr 'a-f' 'A-F'; } >"$out/expected-ansi.txt"
        message_case generate-ansi "Generated Hardware ID" "$out/expected-ansi.txt" 0 \
            --generate "été ü"
    else
        record "[$arch] generate-ansi (needs code page 1252)" 1
    fi

    printf 'Usage:\n  %s\n\tShow all available hardware IDs on this machine\n\n  %s --generate DEVICE_ID\n\tGenerate a hash for a DEVICE_ID\n\n' \
        "$progname" "$progname" >"$out/expected-usage.txt"
    message_case usage-generate-alone "Invalid arguments" "$out/expected-usage.txt" 1 --generate
    message_case usage-capitals "Invalid arguments" "$out/expected-usage.txt" 1 --GENERATE abc
    message_case usage-one-argument "Invalid arguments" "$out/expected-usage.txt" 1 abc
    message_case usage-three-arguments "Invalid arguments" "$out/expected-usage.txt" 1 \
        --generate a b
    for i in $(seq 1000); do many+=("a$i"); done
    message_case usage-1000-arguments "Invalid arguments" "$out/expected-usage.txt" 1 "${many[@]}"
}

# The window lists every adapter when there are more than the probe's first
# buffer holds.
many_adapters_case() {
    local count rc
    count=$(adapter_count)
    expect_texts "$out/expected-display-many.txt" "$out/expected-copy-many.txt"
    start_app
    W wait "$title" "$patience" && W text "$title" >"$out/display-many.txt"
    same "[$arch] window shows all $count adapters" "$out/expected-display-many.txt" \
        "$out/display-many.txt"
    W click "$title" 2
    rc=$(app_status)
    [ "$rc" = 0 ]
    record "[$arch] with $count adapters, Quit ends with status 0" $? "status $rc"
}

for arch in "$@"; do
    route_setup "$arch"
    if [ ! -f "$exe" ] || [ ! -f "$probe" ]; then
        record "[$arch] $exe and winprobe.exe present" 1
        continue
    fi
    printf '\r\nabc: 900150983CD24FB0D6963F7D28E17F72' >"$out/expected-abc.txt"
    if short_route "$arch"; then
        planted_case
        message_case generate-abc "Generated Hardware ID" "$out/expected-abc.txt" 0 --generate abc
        continue
    fi

    # The resource script: version 2.26.0.0, a manifest asking for the
    # invoker's rights without UI access and naming no common controls.
    W resources "$exe" >"$out/resources.txt"
    grep -q '^version 2\.26\.0\.0' "$out/resources.txt" &&
        grep -q 'level="asInvoker"' "$out/resources.txt" &&
        grep -q 'uiAccess="false"' "$out/resources.txt" &&
        ! grep -qi 'Common-Controls' "$out/resources.txt"
    record "[$arch] version resource and manifest" $? "see $out/resources.txt"

    window_cases
    planted_case
    message_case generate-abc "Generated Hardware ID" "$out/expected-abc.txt" 0 --generate abc
    message_cases
done

full=""
for arch in "$@"; do short_route "$arch" || full="$full $arch"; done
if [ -n "$full" ]; then
    check "40 more adapters, more than the probe's first buffer holds" many_adapters &&
        for arch in $full; do
            route_setup "$arch"
            many_adapters_case
        done
fi
exit 0
