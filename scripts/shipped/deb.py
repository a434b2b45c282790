"""A Debian package of ours, hwidtool, libhwid1 or libhwid-dev, for one Debian release and
architecture: its fields, files and modes, and its binary the build's."""
import io
import os
import re
import stat
import subprocess
import tarfile

from shipped.binaries import run, same_image

DEPENDS = ["libpystring0 (>= ", "libc6 (>= ", "libstdc++6 (>= "]
# By package: its files (TRIPLET: the multiarch folder), links, and what Depends must hold
# (VERSION: the package's own; MAJOR: any number).
PACKAGES = {
    "hwidtool": ({"./usr/bin/hwidtool": "-rwxr-xr-x", **{path: "-rw-r--r--" for path in (
        *("./usr/share/doc/hwidtool/" + f for f in ("README.md", "changelog.Debian.gz", "copyright")),
        "./usr/share/man/man1/hwidtool.1.gz")}}, {}, DEPENDS),
    "libhwid1": ({"./usr/lib/TRIPLET/libhwid.so.1.0.0": "-rw-r--r--", **{
        "./usr/share/doc/libhwid1/" + f: "-rw-r--r--" for f in ("changelog.Debian.gz", "copyright")}},
        {"./usr/lib/TRIPLET/libhwid.so.1": "libhwid.so.1.0.0"}, DEPENDS + ["libgcc-s1 (>= "]),
    "libhwid-dev": ({path: "-rw-r--r--" for path in (
        "./usr/include/hwid.h", "./usr/lib/TRIPLET/libhwid.a", "./usr/lib/TRIPLET/pkgconfig/hwid.pc",
        "./usr/share/man/man3/hwid.3.gz", *("./usr/lib/TRIPLET/cmake/hwid/" + f for f in (
            "hwidConfig.cmake", "hwidConfigVersion.cmake", "hwidTargets.cmake",
            "hwidTargets-relwithdebinfo.cmake")),
        *("./usr/share/doc/libhwid-dev/" + f for f in ("changelog.Debian.gz", "copyright")))},
        {"./usr/lib/TRIPLET/libhwid.so": "libhwid.so.1"},
        ["libhwid1 (= VERSION)", "libpystring-dev", "libstdc++-MAJOR-dev"]),
}
# Each Debian release's build folder of an architecture in the work folder: hwidtool's, and
# with -libhwid, libhwid's.
BUILDS = {"deb12": "deb-%s", "deb13": "deb13-%s"}


def check(release, name, arch):
    path = os.path.join(release.out, name)
    package, debian = name.split("_")[0], arch["debian"]
    fields = dict(re.findall(r"^([\w-]+): (.*)$", run("dpkg-deb", "-f", path), re.M))
    print("%s: %s; Depends: %s" % (name, debian, fields.get("Depends")))
    # Informational tags are shown; errors and warnings fail, named on the FAIL line (what
    # lintian says of itself on standard error only when it gives no tag).
    lintian = subprocess.run(["lintian", "-I", "--fail-on", "error,warning", path],
                             capture_output=True, text=True)
    print(lintian.stdout, end="")
    tags = re.findall(r"^[EW]: .*$", lintian.stdout, re.M)
    release.expect(lintian.returncode == 0, "%s: lintian: %s" % (
        name, "; ".join(tags) or lintian.stderr.strip()[-300:] or "status %d" % lintian.returncode))
    release.expect(fields.get("Architecture") == debian, "%s: Architecture is %s" % (
        name, fields.get("Architecture")))

    def fill(text):
        return text.replace("TRIPLET", arch["gnu"]).replace("VERSION", fields.get("Version", "?"))
    want, links, depends = PACKAGES[package]
    want, links = ({fill(k): v for k, v in table.items()} for table in (want, links))
    if package != "hwidtool":
        release.expect(fields.get("Multi-Arch") == "same", "%s: Multi-Arch is %s" % (
            name, fields.get("Multi-Arch")))
    for lib in map(fill, depends):
        release.expect(re.search(re.escape(lib).replace("MAJOR", r"\d+"), fields.get("Depends", "")),
                       "%s: Depends lacks %s" % (name, lib))
    debian_release = re.sub(r".*~(deb\d+)_.*", r"\1", name)
    build = BUILDS[debian_release] % debian
    with tarfile.open(fileobj=io.BytesIO(run("dpkg-deb", "--fsys-tarfile", path, text=False))) as tar:
        members = [m for m in tar.getmembers() if not m.isdir()]
        files = {m.name: stat.filemode(stat.S_IFREG | m.mode) for m in members if not m.issym()}
        found_links = {m.name: m.linkname for m in members if m.issym()}
        if not release.expect(files == want and found_links == links,
                              "%s: files and modes %s, links %s" % (name, files, found_links)):
            return
        if package == "hwidtool":
            binary(release, name, tar.extractfile("./usr/bin/hwidtool").read(), arch, "hwidtool",
                   "%s %s" % (debian_release, debian), build, "linux/cli/hwidtool")
        elif package == "libhwid1":
            binary(release, name, tar.extractfile(fill("./usr/lib/TRIPLET/libhwid.so.1.0.0")).read(),
                   arch, "hwid", "libhwid %s %s" % (debian_release, debian), build + "-libhwid",
                   "libhwid/libhwid.so.1.0.0")
            symbols = run("dpkg-deb", "--info", path, "symbols")
            release.expect(symbols == release.source("packaging", "debian", "libhwid1.symbols").decode(),
                           "%s: its symbols file is not packaging/debian/libhwid1.symbols" % name)
        else:
            release.expect(tar.extractfile("./usr/include/hwid.h").read() == release.source(
                "libhwid", "hwid.h"), "%s: /usr/include/hwid.h is not libhwid/hwid.h" % name)


def binary(release, name, data, arch, target, row, build, built):
    """The package's program or library: the build's, stripped; a row of the table."""
    release.expect(same_image(data, release.path(build, built), stripped=True), "%s: its %s is not %s of %s" % (
        name, os.path.basename(built), built, build))
    release.program(row, data, arch["id"], target, build)
