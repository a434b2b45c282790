#!/bin/bash
# Runs inside `unshare -nmp` (scripts/test-windows.sh starts it): fabricates
# the machine's network adapters, starts Xvfb and a fresh Wine server, then
# runs the test builds' Windows-side unit tests, or proves the shipped
# hwidwin.exe of each route end to end, or the shipped hwid.dll under a
# program linked against it.
#
# Usage: run-under-wine.sh REPO_ROOT unit-tests ROUTE...
#        run-under-wine.sh REPO_ROOT program SHIPPED_FOLDER ROUTE...
#        run-under-wine.sh REPO_ROOT library CONSUMERS_FOLDER ROUTE...
# A ROUTE is win32 or win64. SHIPPED_FOLDER holds the zip's 32-bit/ and
# 64-bit/hwidwin.exe; CONSUMERS_FOLDER a folder per route with the library
# zip's hwid.dll and libhwid/tests/listing.c built against it (listing.exe),
# and one ROUTE-static with listing.exe linked against the zip's libhwid.a.
# The test build build-ROUTE supplies only what drives and
# watches it (winprobe, the planted DLLs). Counts into the caller's
# $HWID_CHECKS. Routes named in HWID_SHORT_ROUTES run emulated, where a
# program takes minutes to start: only the window beside planted DLLs and one
# Hardware ID, driven by the x86_64 build's winprobe.
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
root=$1 mode=$2
shift 2
if [ "$mode" != unit-tests ]; then shipped=$1; shift; fi
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
adapter_list() { adapters | paste -sd, -; }
fabricate() {
    ip link set lo up && ip link add br0 type bridge && set_mac br0 0a:1b:2c:3d:4e:5f &&
        add_tap tap0 02:11:22:33:44:55 && ip link add veth0 type veth peer name veth1 &&
        set_mac veth0 02:aa:bb:cc:dd:01 && set_mac veth1 02:aa:bb:cc:dd:02 &&
        [ "$(adapters | wc -l)" = 4 ]
}
check "network namespace: br0, tap0, veth0, veth1 with their addresses" fabricate || exit 1
# More adapters than the probe's first listing buffer (32 entries) holds.
many_adapters() {
    local i
    for i in $(seq 40); do add_tap "tapx$i" "$(printf '02:00:00:00:01:%02x' "$i")" || return 1; done
    [ "$(adapters | wc -l)" -gt 32 ]
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

# gtest_case NAME LOG EVERY PROGRAM FILTER [VAR=VALUE...]: a unit test program
# of the route's test build passes when it exits 0 having passed a test (a
# filter that matches nothing after a rename runs none, and still exits 0).
# A test that skipped itself is a SKIP line with its reason, the line after
# GoogleTest's "FILE:LINE: Skipped"; where EVERY is "all", the run was set up
# for those very tests, and a skip fails it.
gtest_case() {
    local name="[$arch] $1" log="$out/$2.log" every=$3 status passed skipped test
    timeout 180 env "${@:6}" wine "$root/build-$arch/windows/$4.exe" ${5:+"--gtest_filter=$5"} \
        >"$log" 2>&1
    status=$?
    passed=$(tr -d '\r' <"$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' |
             tail -n 1)
    skipped=$(tr -d '\r' <"$log" | awk '/ Skipped$/ { getline reason; next }
        /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ {
            print $4 ": " (reason == "" ? "no reason given" : reason); reason = "" }')
    if [ -n "$skipped" ] && [ "$every" = all ]; then
        record "$name" 1 "skipped: $(echo "$skipped" | paste -sd';' -); see $log"
        return
    fi
    while read -r test; do [ -z "$test" ] || skip "$name: $test"; done <<<"$skipped"
    [ $status = 0 ] && [ "${passed:-0}" -gt 0 ]
    record "$name" $? "status $status, ${passed:-no} tests passed; see $log"
}
# The tests that only a double-byte code page can check (its byte sequences
# that cannot be split) skip in any other, and run in one of their own.
dbcs_tests='EntryTest.Unsplittable*:CommandLineToArgvATest.CountUntouched*'
unit_tests() {
    # Wine's SetupAPI lists no disk interfaces: the disk walk finds nothing.
    gtest_case windows_probe_tests windows_probe_tests some windows_probe_tests "" \
        HWID_EXPECTED_ADAPTERS="$(adapter_list)" HWID_EXPECTED_DISK_RECORDS=0
    gtest_case windows_ui_tests windows_ui_tests some windows_ui_tests "-$dbcs_tests"
    gtest_case "unsplittable command line (code page 932)" windows_ui_tests-cp932 all \
        windows_ui_tests "$dbcs_tests" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}

hash_of() { printf '%s' "$1" | md5sum | cut -c1-32 | tr 'a-f' 'A-F'; }
title="ZEF Hardware ID (2.26.0.0)"

# The copy text and the display text expected for the adapters there now.
expect_texts() {  # suffix of $out/expected-copy*.txt and expected-display*.txt
    local name mac
    {
        printf 'ZEF Version: 2.26.0.0\r\n\r\n\nAvailable unique ids:\r\n\r\n'
        printf '%-10s%-35s%-43s\r\n' TYPE 'Hardware ID' Comment
        printf '%s\r\n' "$(printf '%088d' 0 | tr 0 -)"
        adapters | while IFS='=' read -r name mac; do
            printf '%-10s%-35s%-43s\r\n' NIC "$(hash_of "${mac//:/}")" "$name"
        done
    } >"$out/expected-copy$1.txt"
    { cat "$out/expected-copy$1.txt"; printf '\r\n\r\n\r\nPress Copy text to Clipboard button'
      printf ' and email this text to: support@zef.example\r\n'; } >"$out/expected-display$1.txt"
}

# The shipped program of a route and what drives it; fails when one is missing.
route_setup() {  # route
    arch=$1 out="$artifacts/$1" exe="$shipped/${1#win}-bit/hwidwin.exe" wine_app=wine
    [ "$mode" = program ] || exe="$shipped/$1/listing.exe"
    probe="$root/build-$1/tests-wine/winprobe.exe" planted_dlls="$root/build-$1/tests-wine/planted"
    patience=30  # seconds for a window or message box to turn up
    if short_route "$1"; then
        wine_app="env -u WINELOADER /usr/lib/wine/wine" patience=300
        probe="$root/build-win64/tests-wine/winprobe.exe"
    fi
    mkdir -p "$out" && [ -f "$exe" ] && [ -f "$probe" ]
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
ended() {  # name, expected status
    local rc
    rc=$(app_status)
    [ "$rc" = "$2" ]
    record "$1" $? "status $rc, expected $2"
}
# The program updates its window and the clipboard a moment after a click:
# read until the expected text shows, for up to ten seconds.
shows() {  # name, TAG of $out/expected-TAG.txt, winprobe command...
    local got="$out/$2.txt" end=$((SECONDS + 10))
    while W "${@:3}" >"$got" 2>/dev/null; ! cmp -s "$out/expected-$2.txt" "$got"; do
        [ $SECONDS -lt $end ] || break
        sleep 0.1
    done
    cmp -s "$out/expected-$2.txt" "$got"
    record "$1" $? "differs: expected $out/expected-$2.txt, got $got"
}
message_case() {  # name, caption, expected text file, expected status, arguments...
    local name="[$arch] $1" caption=$2 expected=$3 got="$out/$1.txt" status=$4
    shift 4
    start_app "$@"
    if ! W messagebox "$caption" "$patience" >"$got"; then
        app_status >/dev/null
        record "$name" 1 "no message box captioned '$caption'"
    elif ! cmp -s "$expected" "$got"; then
        app_status >/dev/null
        record "$name" 1 "text differs: $expected vs $got"
    else
        ended "$name" "$status"
    fi
}
generate_case() {  # name, argument[, its bytes as the program sees them]
    local seen=${3-$2}
    printf '\r\n%s: %s' "$seen" "$(hash_of "$seen")" >"$out/expected-$1.txt"
    message_case "$1" "Generated Hardware ID" "$out/expected-$1.txt" 0 --generate "$2"
}

# Run from a downloads folder, the program would find DLLs a web page put
# there under the names of system DLLs that are no KnownDLLs; Wine, told to
# prefer them to its own, loads them as Windows would. The window still shows
# its table, and none of them is loaded.
# A fresh folder holding FILES and every planted DLL; $names lists the
# planted ones for WINEDLLOVERRIDES, empty when the folder could not be made.
plant() {  # folder, files...
    local folder=$1
    shift
    names=""
    rm -rf "$folder" && mkdir -p "$folder" && cp "$@" "$planted_dlls/"*.dll "$folder/" &&
        names=$(cd "$planted_dlls" && ls -- *.dll | sed 's/\.dll$//' | paste -sd, -)
}

# The planted DLLs a run loaded from the folder: each leaves its mark there.
loaded_from() {  # folder
    (cd "$1" && ls -- *.loaded 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/\.dll\.loaded$//' | paste -sd' ' -)
}

planted_case() {
    local planted="$work/planted-$arch" names loaded rc
    plant "$planted" "$exe"
    expect_texts ""
    W acp >/dev/null  # Wine's desktop and services start outside that folder
    : >"$out/display-planted.txt"
    exe="$planted/hwidwin.exe" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$names=n,b" start_app
    W wait "$title" "$patience" && W text "$title" >"$out/display-planted.txt" &&
        W click "$title" 2
    rc=$(app_status)
    loaded=$(loaded_from "$planted")
    [ -n "$names" ] && cmp -s "$out/expected-display.txt" "$out/display-planted.txt" &&
        [ -z "$loaded" ] && [ "$rc" = 0 ]
    record "[$arch] window shows its table, loads no DLL planted beside it" $? \
        "loaded: ${loaded:-none}, status $rc, see $out/display-planted.txt"
}

# A vendor's program run from a downloads folder, with the planted DLLs
# beside it (and hwid.dll, where it links that): it lists hwidwin's rows in
# listing.c's columns, and loads none of the planted DLLs. Linked
# statically, nothing of the library's start-up may load one either.
consumer_case() {  # suffix of the expected texts, the program's folder, what it links
    local planted="$work/consumer-$arch$1" names loaded rc count
    count=$(adapters | wc -l)
    plant "$planted" "$2/"*
    expect_texts "$1"
    { printf '\r\nAvailable unique ids:\r\n\r\n%-5s %-32s %-40s\r\n' TYPE 'Hardware ID' Comment
      printf '%s\r\n' "$(printf '%078d' 0 | tr 0 -)"
      awk '/^(NIC|USB) / { printf "%-5s %-32s %-40s\r\n", $1, $2, $3 }' "$out/expected-copy$1.txt"
      printf '\r\n\r\n\r\n'; } >"$out/expected-listing$1.txt"
    W acp >/dev/null
    (cd "$planted" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$names=n,b" timeout $((patience * 4)) \
        $wine_app "$planted/listing.exe" >"$out/listing$1.txt" 2>"$out/listing$1.err")
    rc=$?
    loaded=$(loaded_from "$planted")
    case ",$names," in *,iphlpapi,*setupapi,*) ;; *) names="" ;; esac
    [ -n "$names" ] && cmp -s "$out/expected-listing$1.txt" "$out/listing$1.txt" &&
        [ -z "$loaded" ] && [ "$rc" = 0 ]
    record "[$arch] $3 gives hwidwin's $count rows, loads no DLL planted beside its program" \
        $? "loaded: ${loaded:-none}, status $rc, see $out/listing$1.txt and .err"
}

# The resources, the window, its table and buttons, Copy, Refresh and Quit.
window_cases() {
    local exstyle width height geometry holder mac="02:77:66:55:44:${arch#win}"
    # The resource script: version 2.26.0.0, a manifest asking for the
    # invoker's rights without UI access and naming no common controls.
    W resources "$exe" >"$out/resources.txt"
    grep -q '^version 2\.26\.0\.0' "$out/resources.txt" &&
        grep -q 'level="asInvoker"' "$out/resources.txt" &&
        grep -q 'uiAccess="false"' "$out/resources.txt" &&
        ! grep -qi 'Common-Controls' "$out/resources.txt"
    record "[$arch] version resource and manifest" $? "see $out/resources.txt"

    expect_texts ""
    start_app
    W wait "$title" 30
    record "[$arch] window opens" $? "no window titled '$title'" ||
        { app_status >/dev/null; return; }
    shows "[$arch] window shows the adapters' table" display text "$title"
    W window "$title" >"$out/window.txt"
    W controls "$title" >"$out/controls.txt"
    printf '%s\n' 'Edit 0 0 0 1003 304 50200844 00000200 -' \
        'Button 4 342 307 75 30 50000001 00000200 Refresh' \
        'Button 3 417 307 190 30 50000001 00000200 Copy text to Clipboard' \
        'Button 2 607 307 75 30 50000001 00000200 Quit' >"$out/expected-controls.txt"
    grep -v '^tooltip' "$out/controls.txt" | cmp -s "$out/expected-controls.txt" -
    record "[$arch] text area and buttons" $? "see $out/controls.txt"
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

    # Copy: exactly the copy text, as CF_TEXT; then while another program
    # holds the clipboard. A busy machine takes seconds to start the holder:
    # it holds long enough for the click and the box that follows.
    W click "$title" 3
    shows "[$arch] Copy puts the copy text on the clipboard" copy clipboard
    ( W hold-clipboard 12 >"$work/holding" ) &
    holder=$!
    for _ in $(seq 300); do [ -s "$work/holding" ] && break; sleep 0.1; done
    W click "$title" 3
    W messagebox "Error!" 10 >"$out/busy.txt"
    wait "$holder"
    printf 'Error copying string to clipboard' | cmp -s - "$out/busy.txt" && W wait "$title" 5
    record "[$arch] Copy on a held clipboard reports the error, window stays" $?

    # Refresh after an adapter appeared, and Copy of the new table.
    if check "[$arch] adapter tapr$arch added with $mac" add_tap "tapr$arch" "$mac"; then
        expect_texts -refresh
        W click "$title" 4
        shows "[$arch] Refresh shows a new adapter" display-refresh text "$title"
        W click "$title" 3
        shows "[$arch] Copy after Refresh copies the new table" copy-refresh clipboard
    else
        record "[$arch] Refresh shows a new adapter" 1 "no adapter was added"
    fi

    # Quit ends with status 0; so does a close request from the system.
    W click "$title" 2
    ended "[$arch] Quit ends with status 0" 0
    start_app
    W wait "$title" 30 && W close "$title"
    ended "[$arch] close request ends with status 0" 0
}

# The hashing command, and the usage text for everything else.
message_cases() {
    local progname="Z:${exe//\//\\}" usage="$out/expected-usage.txt" args
    generate_case generate-empty ''
    generate_case generate-30000 "$(head -c 30000 /dev/zero | tr '\0' x)"
    # Wine hands the UTF-8 argument over as Unicode; the program sees and
    # hashes its bytes in code page 1252.
    if [ "$(W acp | tr -d '\r')" = 1252 ]; then
        generate_case generate-ansi "été ü" "$(printf '\xe9t\xe9 \xfc')"
    else
        record "[$arch] generate-ansi (needs code page 1252)" 1
    fi
    printf 'Usage:\n  %s\n\tShow all available hardware IDs on this machine\n\n  %s --generate DEVICE_ID\n\tGenerate a hash for a DEVICE_ID\n\n' \
        "$progname" "$progname" >"$usage"
    for args in "usage-generate-alone --generate" "usage-capitals --GENERATE abc" \
        "usage-one-argument abc" "usage-three-arguments --generate a b" \
        "usage-1000-arguments $(seq -s ' ' -f 'a%g' 1000)"; do
        set -- $args
        message_case "$1" "Invalid arguments" "$usage" 1 "${@:2}"
    done
}

# The window lists every adapter when there are more than the probe's first
# buffer holds.
many_adapters_case() {
    local count
    count=$(adapters | wc -l)
    expect_texts -many
    start_app
    W wait "$title" "$patience"
    shows "[$arch] window shows all $count adapters" display-many text "$title"
    W click "$title" 2
    ended "[$arch] with $count adapters, Quit ends with status 0" 0
}

for arch in "$@"; do
    if [ "$mode" = unit-tests ]; then
        out="$artifacts/$arch"
        mkdir -p "$out"
        unit_tests
        continue
    fi
    route_setup "$arch" || { record "[$arch] $exe and winprobe.exe present" 1; continue; }
    if [ "$mode" = library ]; then
        consumer_case "" "$shipped/$arch" hwid.dll
        consumer_case -static "$shipped/$arch-static" "libhwid.a"
        continue
    fi
    short_route "$arch" || window_cases
    planted_case
    generate_case generate-abc abc
    short_route "$arch" || message_cases
done

# Last: Wine keeps listing an interface once seen, so none is ever deleted.
full=$(for arch in "$@"; do short_route "$arch" || echo "$arch"; done)
[ -n "$full" ] || exit 0
check "40 more adapters, more than the probe's first buffer holds" many_adapters || exit 1
for arch in $full; do
    if [ "$mode" = unit-tests ]; then
        out="$artifacts/$arch"
        gtest_case "probe lists all $(adapters | wc -l) adapters (buffer overflow retried)" \
            many-adapters all windows_probe_tests 'RealAdapterProbeTest.*' \
            HWID_EXPECTED_ADAPTERS="$(adapter_list)"
    else
        route_setup "$arch"
        if [ "$mode" = library ]; then
            consumer_case -many "$shipped/$arch" hwid.dll
        else
            many_adapters_case
        fi
    fi
done
exit 0
