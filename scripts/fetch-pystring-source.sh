#!/bin/sh
# Unpacks Debian's source package of pystring into DEST_DIR, at the version
# that this machine's libpystring-dev has (or would install), so the MinGW
# builds compile exactly the upstream release the native build links.
#
# The deb-src entries are derived from the machine's own apt configuration
# and kept, with their package lists, inside WORK_DIR; the system's apt state
# is not touched.
#
# Needs apt-get and tar.
#
# Usage: fetch-pystring-source.sh WORK_DIR
# Prints the path of the unpacked source tree (the folder holding
# pystring.cpp) on its last line of output.
set -eu

work=${1:?usage: $0 WORK_DIR}
mkdir -p "$work"
work=$(cd "$work" && pwd)

existing=$(ls -d "$work"/pystring-*/ 2>/dev/null | head -n 1 || true)
if [ -n "$existing" ] && [ -f "${existing}pystring.cpp" ]; then
    echo "${existing%/}"
    exit 0
fi

command -v apt-get >/dev/null || { echo "apt-get is needed to fetch pystring" >&2; exit 1; }

apt_dir="$work/apt"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
: > "$apt_dir/sources.list"

# deb822 files: the same stanzas, asking for sources instead of binaries.
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
done
# One-line format: every "deb" line gets its "deb-src" twin.
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n -e 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >> "$apt_dir/sources.list"
done

# apt-get with the private lists: each setting one word, whatever the path.
apt_private() {
    apt-get -o "Dir::Etc::SourceList=$apt_dir/sources.list" \
        -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d" \
        -o "Dir::State::Lists=$apt_dir/lists" \
        -o "Dir::Cache::Archives=$apt_dir/archives" \
        -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
        -o APT::Sandbox::User=root "$@"
}

# The version the native build uses: installed, else the candidate.
# (One line per architecture where libpystring-dev:ARCH is installed too.)
version=$(dpkg-query -W -f='${Version}\n' libpystring-dev 2>/dev/null | head -n 1 || true)
if [ -z "$version" ]; then
    version=$(apt-cache policy libpystring-dev 2>/dev/null |
              sed -n 's/^ *Candidate: *//p' | grep -v '(none)' || true)
fi

apt_private -qq update >&2 || {
    echo "apt-get update of the private source lists failed" >&2; exit 1; }
cd "$work"
# Only the upstream tarball is wanted: the release itself, verified by apt
# against the signed source index. Debian's packaging files are not needed,
# so a failure to fetch them is tolerated once the tarball is here.
request=pystring
[ -n "$version" ] && request="pystring=$version"
apt_private -qq --download-only source "$request" >"$apt_dir/source.log" 2>&1 || true

orig=$(ls "$work"/pystring_*.orig.tar.* 2>/dev/null | head -n 1 || true)
if [ -z "$orig" ]; then
    cat "$apt_dir/source.log" >&2
    echo "could not download the pystring source package" >&2
    exit 1
fi
tar -xf "$orig" -C "$work"

src=$(ls -d "$work"/pystring-*/ 2>/dev/null | head -n 1 || true)
[ -n "$src" ] && [ -f "${src}pystring.cpp" ] || {
    echo "pystring sources were not unpacked into $work" >&2; exit 1; }
echo "${src%/}"
