#!/bin/bash
# Usage: library.sh CONSUMERS_FOLDER ROUTE...   (see tests/wine/lib.sh)
# CONSUMERS_FOLDER holds a folder per route with libhwid's hwid.dll and
# libhwid/tests/listing.c built against it (listing.exe), and one
# ROUTE-static with listing.exe linked against its libhwid.a.
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
the_program() { route_setup "$consumers/$arch/listing.exe"; }
both_links() {
    consumer_case "" "$consumers/$arch" hwid.dll
    consumer_case -static "$consumers/$arch-static" libhwid.a
}
many_adapters_dll() { consumer_case -many "$consumers/$arch" hwid.dll; }
for_routes the_program both_links many_adapters_dll "$@"
