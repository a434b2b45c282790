#!/bin/bash
# The speed benchmarks in one command: installs what they need (apt-get, only
# what is missing), builds, then measures
#   1. MD5Checksum against OpenSSL's MD5 (Google Benchmark, one run, medians of
#      interleaved repetitions, printed as ratios), including the stream and
#      file forms over a 256 MiB file;
#   2. the file form against md5sum on that file, as whole processes;
#   3. the listing of hwidtool against "ip -o link show": on this machine as it
#      is, and (as root) on fabricated machines with 1, 64, 512 and 2048
#      network interfaces and 256 USB entries (bench/listing.py);
#   4. one list of each language binding against one probe pass of the C
#      library (hwid_list_new; in another runtime, its present()), taken one
#      and one in the same process, on a fabricated machine of 64 interfaces
#      (bench/bindings.py).
# Two builds of hwidtool are timed: "shared" (build-bench, RelWithDebInfo, -O2)
# links Debian's libpystring and the shared C++ runtime, as the Debian package
# does; "portable" is the preset portable-x86_64 (Release, -O3), static-pie
# with the same pystring release compiled in, as the tarball and the .rpm
# ship it. Every ratio printed says which way it runs ("hwidtool / ip").
#
# Usage: sudo scripts/bench.sh [--counts "1 64 512 2048"] [--runs N]
# Takes 4 to 6 minutes on 2 cores. Benchmarks report; they never fail on slow
# figures.
# Exit status is not 0 only when something could not be built or run.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
counts="1 64 512 2048"
runs=40

while [ $# -gt 0 ]; do
    case "$1" in
        --counts) counts=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        *) echo "usage: $0 [--counts \"1 64 512 2048\"] [--runs N]" >&2; exit 2 ;;
    esac
done

# ------------------------------------------------------------ dependencies --

scripts/install-deps.sh build libbenchmark-dev libssl-dev hyperfine time valgrind \
    python3 iproute2 util-linux coreutils tar nodejs debootstrap debian-archive-keyring \
    default-jdk-headless libjna-java mono-mcs mono-devel

# ------------------------------------------------------------------ builds --

# RelWithDebInfo is -O2, the level the digest's goal is stated for; the
# compiler is the system's c++ (g++ on Debian) unless CXX names another.
echo "=== building (build-bench)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHWID_WERROR=ON -DHWID_BENCHMARKS=ON > /dev/null
cmake --build build-bench -j"$jobs" --target md5_benchmark md5_file hwidtool core_tests \
    > /dev/null
# A fast digest is worth nothing if it is wrong.
build-bench/core/core_tests --gtest_brief=1 > /dev/null ||
    { echo "core_tests failed: no benchmark of a wrong digest" >&2; exit 1; }

# The portable build: static-pie, pystring compiled in (preset).
echo "=== building the portable binary (build-portable-x86_64)"
scripts/install-deps.sh portable
cmake --preset portable-x86_64 > /dev/null
cmake --build --preset portable-x86_64 -j"$jobs" > /dev/null

work=$(mktemp -d)
at_exit 'rm -rf "$work"'
file=$work/random-256MiB
head -c $((256 << 20)) /dev/urandom > "$file"

# ------------------------------------------------------------------ digest --

echo
echo "=== digest: MD5Checksum and OpenSSL's MD5 ($(c++ --version | head -n 1), -O2," \
    "$(nproc) CPUs: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1))"
build-bench/bench/md5_benchmark --md5_file="$file" --benchmark_color=false |
    grep -v -e '_mean ' -e '_stddev ' -e '_cv '

echo
echo "=== digest: file form against md5sum on the same 256 MiB file, whole process"
hyperfine -N --style none --warmup 1 --runs 7 --export-json "$work/md5sum.json" \
    "build-bench/bench/md5_file $file" "md5sum $file" > /dev/null 2>&1
[ "$(build-bench/bench/md5_file "$file" | cut -d' ' -f1)" = "$(md5sum "$file" | cut -d' ' -f1)" ] ||
    { echo "md5_file and md5sum disagree" >&2; exit 1; }
python3 - "$work/md5sum.json" <<'PYTHON'
import json, sys
ours, theirs = json.load(open(sys.argv[1]))["results"]
print("%-10s %10s %10s %10s" % ("", "median s", "user s", "system s"))
for name, r in (("file form", ours), ("md5sum", theirs)):
    print("%-10s %10.3f %10.3f %10.3f" % (name, r["median"], r["user"], r["system"]))
print("ratio md5sum / file form: %.2f wall (median of %d), %.2f user+system (mean);"
      " >= 1.00: no slower" % (theirs["median"] / ours["median"], len(ours["times"]),
                              (theirs["user"] + theirs["system"]) / (ours["user"] + ours["system"])))
PYTHON

# ----------------------------------------------------------------- listing --

echo
echo "=== listing: hwidtool against ip -o link show, whole process"
python3 bench/listing.py --binary shared="$root/build-bench/linux/cli/hwidtool" \
    --binary portable="$root/build-portable-x86_64/linux/cli/hwidtool" \
    --counts "$counts" --runs "$runs"

# ---------------------------------------------------------------- bindings --

# libhwid in a build folder of its own: its code is compiled for a shared
# object, the program's above is not.
echo
echo "=== bindings: one list of each against one probe pass, in the same process"
cmake -S . -B build-bench-libhwid -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHWID_LIBRARY=ON \
    -DBUILD_TESTING=OFF -DHWID_WERROR=ON > /dev/null
cmake --build build-bench-libhwid -j"$jobs" --target hwid > /dev/null
# The Node addon beside it, against Node-API's headers (scripts/npm-fetch.sh).
headers=$(scripts/npm-fetch.sh "$root/build-trixie/root" node-api-headers build-bench-libhwid/npm | tail -n 1)
cmake -S . -B build-bench-libhwid -DHWID_NODE_API_HEADERS="$headers" > /dev/null
cmake --build build-bench-libhwid -j"$jobs" --target hwid_node > /dev/null
# The jar's classes and Zef.Hwid.dll, as the release builds them.
javac --release 17 -cp /usr/share/java/jna.jar -d build-bench-libhwid/java libhwid/java/src/zef/hwid/*.java
libhwid/dotnet/build.sh build-bench-libhwid/dotnet
python3 bench/bindings.py --library build-bench-libhwid/libhwid/libhwid.so.1.0.0 \
    --addon build-bench-libhwid/libhwid/node/hwid.node --java build-bench-libhwid/java:/usr/share/java/jna.jar \
    --dotnet build-bench-libhwid/dotnet/Zef.Hwid.dll
