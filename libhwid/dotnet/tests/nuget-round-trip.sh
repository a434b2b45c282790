#!/bin/sh
# Run in a clean Debian root (scripts/test-distros.sh), in a folder holding
# the NuGet package and the portable hwidtool: the package is unpacked, and
# Mono's mcs compiles the Listing, the row checker and the guide's C#
# example as printed against its assembly. They are laid out as a program's
# output folder holds them (the assembly beside them, the package's
# runtimes/ folder under them) and run by Mono on the fabricated machines
# beside hwidtool, with a libhwid.so planted in the current folder and in
# LD_LIBRARY_PATH (loaded, it would speak on standard error). SOURCE_DIR is
# the checkout.
# Usage: nuget-round-trip.sh SOURCE_DIR
set -eu
src=$1
here=$(pwd)
package=$(ls Zef.Hwid.*.nupkg)
mkdir -p unpacked app
python3 -m zipfile -e "$package" unpacked
sh "$src/libhwid/tests/plant.sh" libhwid.so libhwid.so.1 hwid.so
sed -n '/^## \.NET$/,/^## /p' "$src/libhwid/README.md" | sed -n '/^```csharp$/,/^```$/p' | sed '1d;$d' >Licence.cs
licensed=$(grep -o '"[0-9A-F]\{32\}"' Licence.cs | tr -d '"')
[ -n "$licensed" ] || { echo "no Hardware ID in the guide's C# example"; exit 1; }
cp unpacked/lib/netstandard2.0/Zef.Hwid.dll app/ && cp -R unpacked/runtimes app/
for program in "$src/libhwid/dotnet/Listing.cs" "$src/libhwid/dotnet/tests/CheckRows.cs" Licence.cs; do
    mcs -warnaserror+ -r:app/Zef.Hwid.dll -out:"app/$(basename "$program" .cs).exe" "$program"
done
mono="env LD_LIBRARY_PATH=$here/planted mono"
python3 "$src/tests/system/machines.py" --binary "$here/hwidtool" --consumer "$mono $here/app/Listing.exe" \
    --licence "$mono $here/app/Licence.exe" "$licensed" --checker "$mono $here/app/CheckRows.exe"
echo "listed with $package on Mono $(mono --version | sed -n '1s/.*version \([^ ]*\).*/\1/p')" \
    "in Debian $(cat /etc/debian_version)"
