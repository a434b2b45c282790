#!/bin/bash
# Usage: program.sh UNPACKED_ZIP ROUTE...   (see tests/wine/lib.sh)
# The zip's 32-bit/ or 64-bit/hwidwin.exe of each route end to end, driven by
# winprobe.exe; an emulated route runs only the window beside the planted
# DLLs and one Hardware ID.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
unpacked=$1 && shift
hash_of() { printf '%s' "$1" | md5sum | cut -c1-32 | tr 'a-f' 'A-F'; }
title="ZEF Hardware ID ($version)"
# The copy text and the display text expected for the adapters there now.
expect_texts() {  # suffix of $out/expected-copy*.txt and expected-display*.txt
    expected hwidwin-copy "$out/expected-copy$1.txt" &&
        expected hwidwin-display "$out/expected-display$1.txt"
}

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

# Beside the planted DLLs the window still shows its table.
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

# The resources, the window, its table and buttons, Copy, Refresh and Quit.
window_cases() {
    local exstyle width height geometry holder mac="02:77:66:55:44:${arch#win}"
    # The resource script: the version, a manifest asking for the invoker's
    # rights without UI access and naming no common controls.
    W resources "$exe" >"$out/resources.txt"
    tr -d '\r' <"$out/resources.txt" | grep -qxF "version $version" &&
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

the_program() { route_setup "$unpacked/${arch#win}-bit/hwidwin.exe"; }
each_route() {
    short_route "$arch" || window_cases
    planted_case
    generate_case generate-abc abc
    short_route "$arch" || message_cases
}
for_routes the_program each_route many_adapters_case "$@"
