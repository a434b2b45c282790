#!/bin/sh
# Builds the libFuzzer targets with clang, address and undefined-behaviour
# sanitizers, straight from the sources of core/ and linux/probe/, apart from
# the main CMake build. Usage: fuzz/build.sh [OUTPUT_DIR]   (default build-fuzz)
# Prints the names of the built targets, one a line, on the last lines.
set -eu
cd "$(dirname "$0")/.."
out=${1:-build-fuzz}
cxx=${CXX_FUZZ:-clang++}
mkdir -p "$out/obj"

flags="-std=c++17 -g -O1 -I. -Wall -Wextra -Wpedantic -Werror
       -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
library="core/md5_checksum.cpp core/runtime.cpp core/string_helpers.cpp
         linux/probe/net_probe.cpp linux/probe/probe_pass.cpp linux/probe/quickread.cpp
         linux/probe/runtime_linux.cpp linux/probe/sources.cpp linux/probe/usb_probe.cpp"

# The Windows disk probe's platform-free part, when it is there.
[ ! -f windows/probe/disk_record.cpp ] || library="$library windows/probe/disk_record.cpp"

objects=""
for source in $library; do
    object="$out/obj/$(echo "$source" | tr / _).o"
    # shellcheck disable=SC2086
    $cxx $flags -fsanitize=fuzzer-no-link -c "$source" -o "$object"
    objects="$objects $object"
done

targets=""
for source in fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    if [ "$target" = instance_id_fuzz ] && [ ! -f windows/probe/disk_record.cpp ]; then
        echo "skipping $target: windows/probe/disk_record.cpp is missing" >&2
        continue
    fi
    # shellcheck disable=SC2086
    $cxx $flags -fsanitize=fuzzer "$source" $objects -lpystring -o "$out/$target"
    targets="$targets $target"
done
for target in $targets; do echo "$target"; done
