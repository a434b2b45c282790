"""The portable hwidtool of an architecture, with its documents, in one folder."""
import os
import tarfile

from shipped.binaries import same_image

FILES = ["LICENSE", "LICENSE.pystring", "README.md", "hwidtool", "hwidtool.1"]


def check(release, name, arch):
    top, build = name[:-len(".tar.gz")], "portable-" + arch["portable"]
    with tarfile.open(os.path.join(release.out, name)) as tar:
        members = tar.getmembers()
        files = sorted(m.name[len(top) + 1:] for m in members if m.isfile())
        if not release.expect(files == FILES and all(m.name.startswith(top) for m in members),
                              "%s: files %s" % (name, " ".join(m.name for m in members))):
            return
        program = tar.extractfile(top + "/hwidtool").read()
    release.expect(same_image(program, release.path(build, "linux", "cli", "hwidtool")),
                   "%s: hwidtool is not the program of %s" % (name, build))
    print("%s: %d files" % (name, len(files)))
    release.program("linux-" + arch["portable"], program, arch["id"], "hwidtool", build)
