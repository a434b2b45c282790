"""The npm package: the binding, an addon for each platform that Node names, each the release's
build byte for byte, for its architecture, needing only what the platform gives (on Linux the
C library, no newer than the wheels' floor), exporting only what Node looks up; no dependency,
no script that an install would run."""
import io
import json
import os
import tarfile

from shipped.binaries import Elf, Pe, is_elf, same_image
from shipped.library_tarball import GLIBC, NEEDED

EXPORTS = {"napi_register_module_v1", "node_api_module_get_api_version_v1"}
TEXTS = {"package/index.js": ("libhwid", "node", "index.js"),
         "package/README.md": ("libhwid", "README.md"), "package/LICENSE": ("LICENSE",)}
# npm runs these of a package it installs; a binding.gyp makes it run node-gyp.
INSTALL_SCRIPTS = {"preinstall", "install", "postinstall", "prepare"}


def addons(release):
    """{member: (architecture id, its build folder)}."""
    return {"package/prebuilds/%s/hwid.node" % arch["node"]: (
        arch["id"], arch["id"] if arch["id"].startswith("win") else "libhwid-" + arch["portable"])
        for arch in release.arches.values() if arch["node"] != "-"}


def check_addon(release, name, member, data, arch, build):
    if not release.expect(same_image(data, release.path(build, "libhwid", "node", "hwid.node")),
                          "%s: %s is not the build %s's" % (name, member, build)):
        return
    row = "libhwid node-" + member.split("/")[2]
    path = release.program(row, data, arch, "hwid_node", build)
    binary = Elf(path) if is_elf(path) else Pe(path)
    exports = binary.functions if is_elf(path) else binary.exports
    release.expect(exports == EXPORTS, "%s: exports %s, not %s" % (row, sorted(exports), sorted(EXPORTS)))
    if is_elf(path):
        release.expect("libc.so.6" in binary.needed and binary.needed <= NEEDED and binary.glibc and
                       binary.glibc <= GLIBC, "%s: needs %s, glibc %s" % (
                           row, " ".join(sorted(binary.needed)), binary.glibc))


def check(release, name, arch):
    built = addons(release)
    with tarfile.open(os.path.join(release.out, name)) as tar:
        members = {m.name: m for m in tar.getmembers() if m.isfile()}
        want = sorted([*TEXTS, "package/package.json", "package/LICENSE.pystring", *built])
        if not release.expect(sorted(members) == want, "%s: files %s, want %s" % (
                name, sorted(members), want)):
            return
        data = {n: tar.extractfile(m).read() for n, m in members.items()}
    for member, source in TEXTS.items():
        release.expect(data[member] == release.source(*source), "%s: %s is not %s" % (
            name, member, os.path.join(*source)))
    manifest = json.load(io.BytesIO(data["package/package.json"]))
    version = name[len("hwid-"):-len(".tgz")]
    release.expect(manifest.get("name") == "hwid" and manifest.get("version") == version and
                   not any(k.endswith("ependencies") for k in manifest) and
                   not INSTALL_SCRIPTS & set(manifest.get("scripts", {})) and not manifest.get("gypfile"),
                   "%s: package.json names, versions, depends or runs otherwise: %s" % (name, manifest))
    for member, (addon_arch, build) in built.items():
        check_addon(release, name, member, data[member], addon_arch, build)
    print("%s: %d files, version %s, no dependency or install script, addons for %s" % (
        name, len(members), version, ", ".join(m.split("/")[2] for m in sorted(built))))
