"""The Python package of an architecture: the binding, the release's library of that
architecture inside it byte for byte, and a tag that lets pip install it only where that
library runs."""
import os
import re
import zipfile

from shipped.binaries import Elf, same_image
from shipped.library_tarball import GLIBC

# Each platform's library: its name in the package, the build file it is.
LIBRARIES = {"linux": ("libhwid.so.1", ("libhwid-%(portable)s", "libhwid", "libhwid.so.1.0.0")),
             "win": ("hwid.dll", ("%(id)s", "libhwid", "hwid.dll"))}


def check(release, name, arch):
    library, built = LIBRARIES["win" if arch["id"].startswith("win") else "linux"]
    built = release.path(*(part % arch for part in built))
    info = "hwid-%s.dist-info/" % release.version
    files = sorted(["hwid/__init__.py", "hwid/" + library] + [info + f for f in (
        "LICENSE", "METADATA", "RECORD", "WHEEL", "top_level.txt")])
    archive = zipfile.ZipFile(os.path.join(release.out, name))
    found = sorted(archive.namelist())
    if not release.expect(found == files, "%s: files %s, want %s" % (name, found, files)):
        return
    wheel, metadata = (archive.read(info + f).decode() for f in ("WHEEL", "METADATA"))
    release.expect(re.search(r"^Tag: py3-none-%s$" % re.escape(arch["wheel"]), wheel, re.M) and
                   wheel.count("Tag:") == 1, "%s: WHEEL tags it %s" % (
                       name, re.findall(r"^Tag: (.*)$", wheel, re.M)))
    release.expect("Requires-Dist" not in metadata and re.search(
        r"^Name: hwid$", metadata, re.M) and re.search(r"^Version: %s$" % re.escape(
            release.version), metadata, re.M), "%s: METADATA names, versions or requires "
        "otherwise: %s" % (name, metadata[:300]))
    release.expect(release.source("libhwid", "README.md").decode() in metadata,
                   "%s: METADATA does not carry libhwid/README.md" % name)
    release.expect(archive.read("hwid/__init__.py") == release.source(
        "libhwid", "python", "src", "hwid", "__init__.py"),
        "%s: hwid/__init__.py is not libhwid/python's" % name)
    data = archive.read("hwid/" + library)
    floor = ""
    if library.endswith(".so.1"):  # the floor its manylinux tag promises
        path = os.path.join(release.scratch, name + "-" + library)
        with open(path, "wb") as f:
            f.write(data)
        glibc = Elf(path).glibc
        release.expect(glibc and glibc <= GLIBC, "%s: its library needs glibc %s" % (name, glibc))
        floor = ", glibc %s" % ".".join(map(str, glibc or ()))
    if release.expect(same_image(data, built), "%s: hwid/%s is not %s" % (name, library, built)):
        print("%s: %d files, tagged py3-none-%s, its %s the release's build%s" % (
            name, len(files), arch["wheel"], library, floor))
