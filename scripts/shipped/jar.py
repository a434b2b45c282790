"""The jar: the binding's classes for Java 17, a library for each platform JNA names a folder
for, each the release's build byte for byte (on Linux no newer a C library than the wheels'
floor), and a pom whose one dependency is JNA."""
import os
import re
import struct
import zipfile

from shipped.binaries import Elf, same_image
from shipped.library_tarball import GLIBC

CLASSES = ["zef/hwid/%s.class" % c for c in ("HardwareIds", "HwidException", "Library", "Row")]
JAVA_17 = 61  # the class file major version javac --release 17 writes
MAVEN = "META-INF/maven/zef/hwid/"


def natives(release, column, folder):
    """{member: its build file} for each architecture with a name in COLUMN, the member in FOLDER
    (a pattern of that name): the portable library of the Linux tarballs, or hwid.dll."""
    found = {}
    for arch in release.arches.values():
        if arch[column] == "-":
            continue
        if arch["id"].startswith("win"):
            found[folder % arch[column] + "/hwid.dll"] = release.path(arch["id"], "libhwid", "hwid.dll")
        else:
            found[folder % arch[column] + "/libhwid.so"] = release.path(
                "libhwid-" + arch["portable"], "libhwid", "libhwid.so.1.0.0")
    return found


def check_native(release, name, member, data, built):
    if not release.expect(same_image(data, built), "%s: %s is not %s" % (name, member, built)):
        return
    if member.endswith(".so"):
        path = os.path.join(release.scratch, name + "-" + member.replace("/", "-"))
        with open(path, "wb") as f:
            f.write(data)
        glibc = Elf(path).glibc
        release.expect(glibc and glibc <= GLIBC, "%s: %s needs glibc %s" % (name, member, glibc))


def check(release, name, arch):
    built = natives(release, "jna", "%s")
    archive = zipfile.ZipFile(os.path.join(release.out, name))
    found = sorted(n for n in archive.namelist() if not n.endswith("/"))
    want = sorted(CLASSES + list(built) + ["META-INF/MANIFEST.MF", MAVEN + "pom.xml", MAVEN +
                                           "pom.properties", "README.md", "LICENSE", "LICENSE.pystring"])
    if not release.expect(found == want, "%s: files %s, want %s" % (name, found, want)):
        return
    for member, source in (("README.md", ("libhwid", "README.md")), ("LICENSE", ("LICENSE",))):
        release.expect(archive.read(member) == release.source(*source),
                       "%s: %s is not %s" % (name, member, os.path.join(*source)))
    for member in CLASSES:
        major = struct.unpack(">H", archive.read(member)[6:8])[0]
        release.expect(major == JAVA_17, "%s: %s is class version %d" % (name, member, major))
    pom = archive.read(MAVEN + "pom.xml").decode()
    dependencies = re.findall(r"<dependency>.*?<groupId>(.*?)</groupId>.*?<artifactId>(.*?)</artifactId>",
                              pom, re.S)
    release.expect(dependencies == [("net.java.dev.jna", "jna")] and
                   "<version>%s</version>" % release.version in pom, "%s: the pom depends on %s or "
                   "is not of version %s" % (name, dependencies, release.version))
    for member, path in built.items():
        check_native(release, name, member, archive.read(member), path)
    print("%s: %d files, classes for Java 17, depends on JNA alone, libraries for %s" % (
        name, len(found), ", ".join(m.split("/")[0] for m in sorted(built))))
