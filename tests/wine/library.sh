#!/bin/bash
# Usage: library.sh CONSUMERS_FOLDER ROUTE...   (see tests/wine/lib.sh)
# CONSUMERS_FOLDER holds a folder per route with libhwid's hwid.dll and
# libhwid/tests/listing.c built against it (listing.exe), and one
# ROUTE-static with listing.exe linked against its libhwid.a; and node-ROUTE,
# where the release's npm package has an addon Wine runs there: node.exe (the
# Windows build of Node), libhwid/node/listing.js and node_modules/hwid.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
consumers=$1 && shift

# It lists hwidwin's rows in listing.c's columns, and loads none of the
# planted DLLs. Linked statically, nothing of the library's start-up may load
# one either.
consumer_case() {  # suffix of the expected texts, the program's folder, what it links
    local planted="$work/consumer-$arch$1" names loaded rc count
    count=$(adapters | wc -l)
    plant "$planted" "$2/"*
    expected listing-crlf "$out/expected-listing$1.txt"
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
# Node's listing, with the package's addon for the route, lists hwidwin's
# rows from a project folder holding the planted DLLs, and a planted hwid.dll
# there and beside the addon: none may load. node.exe runs from a folder of
# its own, as installed (its own imports are Windows' affair). Node refuses
# Windows older than 8.1, and Wine's default prefix says 7: Node's own
# switch lets it start.
node_case() {
    local planted="$work/node-$arch" names loaded rc count addon
    [ -d "$consumers/node-$arch" ] || return 0
    count=$(adapters | wc -l)
    plant "$planted" && cp -R "$consumers/node-$arch/node_modules" "$consumers/node-$arch/listing.js" \
        "$consumers/node-$arch/platform" "$planted/" &&
        addon="$planted/node_modules/hwid/prebuilds/$(cat "$planted/platform")" && [ -f "$addon/hwid.node" ] &&
        cp "$planted_dlls/dnsapi.dll" "$planted/hwid.dll" && cp "$planted_dlls/dnsapi.dll" "$addon/hwid.dll" || names=""
    expected listing-crlf "$out/expected-node-listing.txt"
    (set -o pipefail && cd "$planted" && NODE_SKIP_PLATFORM_CHECK=1 WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$names,hwid=n,b" timeout $((patience * 4)) \
        $wine_app "$consumers/node-$arch/node.exe" listing.js 2>"$out/node-listing.err" | sed 's/$/\r/' >"$out/node-listing.txt")
    rc=$?
    loaded=$(loaded_from "$planted"; loaded_from "$addon")
    [ -n "$names" ] && cmp -s "$out/expected-node-listing.txt" "$out/node-listing.txt" &&
        [ -z "$loaded" ] && [ "$rc" = 0 ] && [ ! -s "$out/node-listing.err" ]
    record "[$arch] Node's listing with the npm package's addon gives hwidwin's $count rows, loads\
 no planted DLL" $? "loaded: ${loaded:-none}, status $rc, see $out/node-listing.txt and .err"
}
the_program() { route_setup "$consumers/$arch/listing.exe"; }
both_links() {
    consumer_case "" "$consumers/$arch" hwid.dll
    consumer_case -static "$consumers/$arch-static" libhwid.a
    node_case
}
many_adapters_dll() { consumer_case -many "$consumers/$arch" hwid.dll; }
for_routes the_program both_links many_adapters_dll "$@"
