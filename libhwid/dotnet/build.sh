#!/bin/sh
# Builds Zef.Hwid.dll (netstandard2.0) and its Zef.Hwid.xml with Mono's mcs, and the listing
# and the checker beside it, into OUT. Deterministic: two builds give the same bytes.
# Usage: build.sh OUT [VERSION]   (VERSION: the project's, from the top CMakeLists.txt)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$1
version=${2:-$(sed -n 's/^project(hwid VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")}
api=/usr/lib/mono/4.7.1-api
mkdir -p "$out"
cat >"$out/AssemblyInfo.cs" <<EOF
[assembly: System.Reflection.AssemblyVersion("$version")]
[assembly: System.Reflection.AssemblyFileVersion("$version")]
[assembly: System.Reflection.AssemblyInformationalVersion("$version")]
[assembly: System.Reflection.AssemblyTitle("Zef.Hwid")]
[assembly: System.Reflection.AssemblyDescription("The Hardware IDs hwidtool and hwidwin list, from libhwid")]
[assembly: System.Runtime.Versioning.TargetFramework(".NETStandard,Version=v2.0", FrameworkDisplayName = "")]
EOF
# The facade alone gives mcs no types: it forwards each to mscorlib, which mcs then names
# as the reference.
mcs -target:library -nostdlib -noconfig -unsafe -deterministic -optimize+ -warnaserror+ \
    -r:"$api/Facades/netstandard.dll" -r:"$api/mscorlib.dll" \
    -doc:"$out/Zef.Hwid.xml" -out:"$out/Zef.Hwid.dll" \
    "$out/AssemblyInfo.cs" "$here/HardwareIds.cs" "$here/Native.cs" "$here/Text.cs"
for program in Listing tests/CheckRows; do
    mcs -deterministic -optimize+ -warnaserror+ -r:"$out/Zef.Hwid.dll" -r:"$api/Facades/netstandard.dll" \
        -out:"$out/$(basename $program).exe" "$here/$program.cs"
done
