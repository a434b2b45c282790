"""libhwid for any Linux of an architecture, laid out as cmake --install lays it under a
prefix. Its library is the build's, whose exports the link checked; here what it needs of
the system: the C library and its loader alone, none newer than its glibc floor."""
import os
import tarfile

from shipped.binaries import Elf, same_image

LIBRARY = "lib/libhwid.so.1.0.0"
FILES = sorted([
    "LICENSE", "LICENSE.pystring", "README.md", "include/hwid.h", LIBRARY, "lib/libhwid.a",
    "lib/pkgconfig/hwid.pc", "share/man/man3/hwid.3", *("lib/cmake/hwid/" + f for f in (
        "hwidConfig.cmake", "hwidConfigVersion.cmake", "hwidTargets.cmake",
        "hwidTargets-release.cmake"))])
LINKS = {"lib/libhwid.so": "libhwid.so.1", "lib/libhwid.so.1": "libhwid.so.1.0.0"}
# The oldest C library the portable library loads on: what it may ask for.
GLIBC = (2, 34)
# Beside the C library, its loader: the C++ run-time inside reaches thread-local
# storage through it.
NEEDED = {"libc.so.6", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}


def check(release, name, arch):
    top, build, row = name[:-len(".tar.gz")], "libhwid-" + arch["portable"], "libhwid linux-" + arch["portable"]
    with tarfile.open(os.path.join(release.out, name)) as tar:
        members = tar.getmembers()
        inside = {m.name[len(top) + 1:]: m for m in members}
        files = sorted(n for n, m in inside.items() if m.isfile())
        links = {n: m.linkname for n, m in inside.items() if m.issym()}
        if not release.expect(files == FILES and links == LINKS and all(
                m.name.startswith(top + "/") or m.name == top for m in members),
                "%s: files %s" % (name, " ".join(m.name for m in members))):
            return
        header = tar.extractfile(top + "/include/hwid.h").read()
        library = tar.extractfile(top + "/" + LIBRARY).read()
    print("%s: %d files, %d links" % (name, len(files), len(links)))
    release.expect(header == release.source("libhwid", "hwid.h"), "%s: include/hwid.h is not "
                   "libhwid/hwid.h" % name)
    release.expect(same_image(library, release.path(build, "libhwid", "libhwid.so.1.0.0")),
                   "%s: %s is not the library of %s" % (name, LIBRARY, build))
    elf = Elf(release.program(row, library, arch["id"], "hwid", build))
    release.expect("libc.so.6" in elf.needed and elf.needed <= NEEDED,
                   "%s: needs %s" % (row, " ".join(sorted(elf.needed))))
    glibc = ".".join(map(str, elf.glibc or ()))
    if release.expect(elf.glibc and elf.glibc <= GLIBC, "%s: needs glibc %s" % (
            row, glibc or "of no version")):
        print("%s: the build's library, needs %s, glibc %s" % (row, " ".join(sorted(elf.needed)), glibc))
