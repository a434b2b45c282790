"""libhwid's Windows archive: the header and, for each width, the build's hwid.dll, its import
library and static library, and the export list that MSVC's lib takes, with hwidwin's texts
and a README of its own."""
from shipped.windows_zip import TEXTS, opened, same_member, texts_read

LIBRARY_TEXTS = {**TEXTS, "README.txt": [
    b"-lhwid", b"lib /def:x64\\hwid.def /machine:x64", b"no other DLL than Windows' own"]}
BUILT = ("hwid.dll", "libhwid.a", "libhwid.dll.a")  # each width's files of its build


def files(release):
    folders = [release.arches[build]["portable"] for build in ("win32", "win64")]
    return sorted(["include/hwid.h", *LIBRARY_TEXTS, *(folder + "/" + f for folder in folders
                                                        for f in BUILT + ("hwid.def",))])


def check(release, name, arch):
    archive, top = opened(release, name, files(release))
    if not archive:
        return
    sources = {"include/hwid.h": release.path("src", "libhwid", "hwid.h")}
    for build in ("win32", "win64"):
        folder = release.arches[build]["portable"]
        sources[folder + "/hwid.def"] = release.path("src", "libhwid", "hwid.def")
        for built in BUILT:
            sources[folder + "/" + built] = release.path(build, "libhwid", built)
    data = {member: same_member(release, name, archive, top + member, path)
            for member, path in sources.items()}
    for build in ("win32", "win64"):
        folder = release.arches[build]["portable"]
        release.program("libhwid windows-" + folder, data[folder + "/hwid.dll"], build, "hwid", build)
    texts_read(release, name, archive, top, LIBRARY_TEXTS)
