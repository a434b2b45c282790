#!/bin/sh
# Run in a clean Debian root (scripts/test-distros.sh), in a folder holding
# the jar and the portable hwidtool: javac compiles the Listing, the row
# checker and the guide's Java example as printed against the jar and
# Debian's JNA, and the fabricated machines run them beside hwidtool, with a
# libhwid.so planted in the current folder, in LD_LIBRARY_PATH and in
# jna.library.path (loaded, it would speak on standard error); no copy of the
# library stays behind, nor an earlier run's. A copy of the
# jar without this platform's library must name the platform on first use.
# SOURCE_DIR is the checkout.
# Usage: jar-round-trip.sh SOURCE_DIR
set -eu
src=$1
here=$(pwd)
jar=$(ls zef-hwid-*.jar)
mkdir -p classes elsewhere
sh "$src/libhwid/tests/plant.sh" libhwid.so libhwid.so.1
sed -n '/^## Java$/,/^## /p' "$src/libhwid/README.md" | sed -n '/^```java$/,/^```$/p' | sed '1d;$d' >Licence.java
licensed=$(grep -o '"[0-9A-F]\{32\}"' Licence.java | tr -d '"')
[ -n "$licensed" ] || { echo "no Hardware ID in the guide's Java example"; exit 1; }
javac -encoding UTF-8 -d classes -cp "$jar" \
    "$src/libhwid/java/Listing.java" "$src/libhwid/java/tests/CheckRows.java" Licence.java
# A copy an earlier run left (as every run on Windows does) is removed by the next.
mkdir -p temp/zef-hwid-earlier && cp planted/libhwid.so temp/zef-hwid-earlier/ && touch -d '-1 hour' temp/*
java="env LD_LIBRARY_PATH=$here/planted java -Djna.library.path=$here/planted -Djava.io.tmpdir=$here/temp\
 -cp $here/classes:$here/$jar:/usr/share/java/jna.jar"
python3 "$src/tests/system/machines.py" --binary "$here/hwidtool" --consumer "$java Listing" \
    --licence "$java Licence" "$licensed" --checker "$java CheckRows"
[ -z "$(ls temp)" ] || { echo "copies of the library left behind: $(ls temp)"; exit 1; }
case $(uname -m) in
    x86_64) platform=linux-x86-64 ;;
    *) platform=linux-$(uname -m) ;;
esac
(cd elsewhere && jar -xf "../$jar" && rm -r "$platform" && jar -cf ../elsewhere.jar .)
said=$(java -cp "classes:elsewhere.jar:/usr/share/java/jna.jar" Listing 2>&1) &&
    { echo "the jar without $platform/ listed"; exit 1; }
case $said in
    *"no build for $platform"*) ;;
    *) echo "the jar without $platform/ said: $said"; exit 1 ;;
esac
echo "listed with $jar on $(java -version 2>&1 | head -n 1) and JNA $(readlink -f /usr/share/java/jna.jar)" \
    "in Debian $(cat /etc/debian_version); without its library it named $platform"
