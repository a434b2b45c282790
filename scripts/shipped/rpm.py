"""hwidtool's RPM package: the portable program, byte for byte, wrapped with its documents."""
import os
import subprocess

from shipped.binaries import run, same_image

FILES = {"/usr/bin/hwidtool": "-rwxr-xr-x", **{path: "-rw-r--r--" for path in (
    "/usr/share/doc/hwidtool/README.md", "/usr/share/licenses/hwidtool/LICENSE",
    "/usr/share/licenses/hwidtool/LICENSE.pystring", "/usr/share/man/man1/hwidtool.1.gz")}}


def check(release, name, arch):
    path, rpm_arch = os.path.join(release.out, name), arch["rpm"]
    query = run("rpm", "-qp", "--qf", "%{ARCH} %{LICENSE} %{PAYLOADCOMPRESSOR}\\n", path).split()
    requires = [r for r in run("rpm", "-qp", "--requires", path).split("\n") if r]
    listing = {fields[-1]: fields[0] for fields in map(str.split, run(
        "rpm", "-qlvp", path).splitlines()) if not fields[0].startswith("d")}
    print("%s: %s, %s, %s payload; requires %s" % (name, *query[:3], ", ".join(requires)))
    # No error and no warning, but for what the project's configuration filters, each with its
    # reason; rpmlint reads ~/.config: HOME is a folder of the check's own.
    rpmlint = subprocess.run(["rpmlint", "-c", os.path.join(release.src, "packaging", "rpm", "rpmlint.toml"),
                              path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             env={**os.environ, "HOME": release.scratch})
    print(rpmlint.stdout, end="")
    release.expect(" 0 errors, 0 warnings" in rpmlint.stdout, "%s: rpmlint finds an error or a warning" % name)
    release.expect(query == [rpm_arch, "MIT", "xz"], "%s: arch, licence, payload are %s" % (
        name, " ".join(query)))
    release.expect(all(r.startswith("rpmlib(") for r in requires),
                   "%s: requires more than rpmlib features: %s" % (name, requires))
    if release.expect(listing == FILES, "%s: files and modes %s" % (name, listing)):
        program = run("cpio", "-i", "--quiet", "--to-stdout", "./usr/bin/hwidtool",
                      stdin=run("rpm2cpio", path, text=False), text=False)
        build = "portable-" + arch["portable"]
        if release.expect(same_image(program, release.path(build, "linux", "cli", "hwidtool")),
                          "%s: /usr/bin/hwidtool is not the portable program of %s" % (name, build)):
            print("%s: /usr/bin/hwidtool is the portable program, byte for byte" % name)
        release.program("rpm " + rpm_arch, program, arch["id"], "hwidtool", build)
