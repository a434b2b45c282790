"""The NuGet package: the assembly and its documentation as this release built them, a library
for each runtime NuGet names, each the release's build byte for byte (on Linux no newer a C
library than the wheels' floor), the targets file, and a nuspec with no dependency."""
import os
import re
import zipfile

from shipped.jar import check_native, natives

ASSEMBLY = ["lib/netstandard2.0/Zef.Hwid.dll", "lib/netstandard2.0/Zef.Hwid.xml"]
FIXED = ["Zef.Hwid.nuspec", "buildTransitive/Zef.Hwid.targets", "README.md", "LICENSE",
         "LICENSE.pystring", "_rels/.rels", "[Content_Types].xml"]


def check(release, name, arch):
    built = natives(release, "nuget", "runtimes/%s/native")
    archive = zipfile.ZipFile(os.path.join(release.out, name))
    names = archive.namelist()
    properties = [n for n in names if re.fullmatch(
        r"package/services/metadata/core-properties/[0-9a-f]{32}\.psmdcp", n)]
    want = sorted(ASSEMBLY + FIXED + list(built) + properties[:1])
    if not release.expect(len(properties) == 1 and sorted(names) == want,
                          "%s: files %s, want %s" % (name, sorted(names), want)):
        return
    for member, source in (("README.md", ("libhwid", "README.md")), ("LICENSE", ("LICENSE",)),
                           ("buildTransitive/Zef.Hwid.targets", ("libhwid", "dotnet", "Zef.Hwid.targets"))):
        release.expect(archive.read(member) == release.source(*source),
                       "%s: %s is not %s" % (name, member, os.path.join(*source)))
    for member in ASSEMBLY:
        with open(release.path("nuget", os.path.basename(member)), "rb") as f:
            release.expect(archive.read(member) == f.read(), "%s: %s is not the build's" % (name, member))
    nuspec = archive.read("Zef.Hwid.nuspec").decode()
    version = name[len("Zef.Hwid."):-len(".nupkg")]
    release.expect("<id>Zef.Hwid</id>" in nuspec and "<version>%s</version>" % version in nuspec and
                   "<dependency " not in nuspec, "%s: the nuspec names, versions or depends otherwise: %s"
                   % (name, nuspec[:400]))
    for member, path in built.items():
        check_native(release, name, member, archive.read(member), path)
    print("%s: %d files, version %s, no dependency, libraries for %s" % (
        name, len(names), version, ", ".join(m.split("/")[1] for m in sorted(built))))
