#!/usr/bin/env python3
"""Writes Zef.Hwid.VERSION.nupkg, laid out as `nuget pack` lays a package out, from the built
assembly, the native libraries and the documents, with nothing but Python's standard library:
the release machines have no .NET SDK. Fixed dates (SOURCE_DATE_EPOCH, else 1980-01-01),
order and modes, so that the same inputs give the same bytes.

Usage: pack.py --version V --out FILE --assembly DIR --native RID=PATH ... --file NAME=PATH ...
DIR holds Zef.Hwid.dll and Zef.Hwid.xml; RID is one of linux-x64, linux-arm64, win-x64, win-x86;
each --file goes to the package's root (README.md, LICENSE, LICENSE.pystring).
"""
import argparse
import hashlib
import os
import sys
import time
import zipfile
from xml.sax.saxutils import escape

ID = "Zef.Hwid"
AUTHORS = "The hwid authors"
DESCRIPTION = ("The Hardware IDs hwidtool (Linux) and hwidwin (Windows) list, for a program that "
               "checks that its licence belongs to the machine it runs on: libhwid, inside, "
               "loaded by its own path.")
NATIVE = {"linux-x64": "libhwid.so", "linux-arm64": "libhwid.so",
          "win-x64": "hwid.dll", "win-x86": "hwid.dll"}
TARGETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Zef.Hwid.targets")
# NuGet's own content types: the manifest and the parts as octets.
CONTENT_TYPES = {"rels": "application/vnd.openxmlformats-package.relationships+xml",
                 "psmdcp": "application/vnd.openxmlformats-package.core-properties+xml"}


def nuspec(version, licence, readme):
    return f"""<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>{ID}</id>
    <version>{escape(version)}</version>
    <authors>{AUTHORS}</authors>
    <license type="file">{escape(licence)}</license>
    <readme>{escape(readme)}</readme>
    <description>{DESCRIPTION}</description>
    <dependencies>
      <group targetFramework=".NETStandard2.0" />
    </dependencies>
  </metadata>
</package>
""".encode()


def relationship_id(target):
    return "R" + hashlib.sha256(target.encode()).hexdigest()[:16].upper()


def rels(core):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">']
    for kind, target in (("http://schemas.microsoft.com/packaging/2010/07/manifest", f"/{ID}.nuspec"),
                         ("http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
                          "core-properties", "/" + core)):
        lines.append(f'  <Relationship Type="{kind}" Target="{target}" Id="{relationship_id(target)}" />')
    return ("\n".join(lines + ["</Relationships>"]) + "\n").encode()


def core_properties(version):
    return f"""<?xml version="1.0" encoding="utf-8"?>
<coreProperties xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" \
xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" \
xmlns="http://schemas.openxmlformats.org/package/2006/metadata/core-properties">
  <dc:creator>{AUTHORS}</dc:creator>
  <dc:description>{DESCRIPTION}</dc:description>
  <dc:identifier>{ID}</dc:identifier>
  <version>{escape(version)}</version>
  <keywords></keywords>
  <lastModifiedBy>pack.py</lastModifiedBy>
</coreProperties>
""".encode()


def extension(name):
    """What follows the last dot of the file name, ".rels" being all extension."""
    base = name.rsplit("/", 1)[-1]
    return base.rpartition(".")[2].lower() if "." in base else ""


def content_types(names):
    """A Default for each extension, an Override for each part without one, as NuGet writes."""
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">']
    extensions = sorted({extension(n) for n in names if extension(n)})
    for suffix in extensions:
        lines.append(f'  <Default Extension="{escape(suffix)}" '
                     f'ContentType="{CONTENT_TYPES.get(suffix, "application/octet")}" />')
    for name in names:
        if not extension(name):
            lines.append(f'  <Override PartName="/{escape(name)}" ContentType="application/octet" />')
    return ("\n".join(lines + ["</Types>"]) + "\n").encode()


def pairs(values, what):
    found = {}
    for value in values:
        key, sep, path = value.partition("=")
        if not sep or not key or not path:
            sys.exit(f"pack.py: {what} {value!r} is not NAME=PATH")
        if key in found:
            sys.exit(f"pack.py: {what} {key} given twice")
        found[key] = path
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True, help="the folder or the .nupkg to write")
    parser.add_argument("--assembly", required=True, metavar="DIR")
    parser.add_argument("--native", action="append", default=[], metavar="RID=PATH", required=True)
    parser.add_argument("--file", action="append", default=[], metavar="NAME=PATH")
    args = parser.parse_args()
    native, files = pairs(args.native, "--native"), pairs(args.file, "--file")
    unknown = sorted(set(native) - set(NATIVE))
    if unknown:
        sys.exit(f"pack.py: no such runtime as {', '.join(unknown)}: one of {', '.join(NATIVE)}")
    for name in ("README.md", "LICENSE"):
        if name not in files:
            sys.exit(f"pack.py: --file {name}=PATH is missing: the manifest names it")

    parts = [(f"{ID}.nuspec", nuspec(args.version, "LICENSE", "README.md"))]
    for suffix in ("dll", "xml"):
        parts.append((f"lib/netstandard2.0/{ID}.{suffix}", os.path.join(args.assembly, f"{ID}.{suffix}")))
    for rid in NATIVE:  # NATIVE's order, not the command line's
        if rid in native:
            parts.append((f"runtimes/{rid}/native/{NATIVE[rid]}", native[rid]))
    parts.append((f"buildTransitive/{ID}.targets", TARGETS))
    parts += sorted(files.items())
    # NuGet names the core properties at random; a name from the version keeps two packs equal.
    core = ("package/services/metadata/core-properties/"
            f"{hashlib.sha256((ID + '.' + args.version).encode()).hexdigest()[:32]}.psmdcp")
    parts += [("_rels/.rels", rels(core)), (core, core_properties(args.version))]
    parts.append(("[Content_Types].xml", content_types([name for name, _ in parts])))

    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    out = args.out
    if os.path.isdir(out):
        out = os.path.join(out, f"{ID}.{args.version}.nupkg")
    with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_DEFLATED) as package:
        for name, content in parts:
            if isinstance(content, str):
                with open(content, "rb") as source:
                    content = source.read()
            entry = zipfile.ZipInfo(name, stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            package.writestr(entry, content, compresslevel=9)
    os.replace(out + ".part", out)
    print(out)


if __name__ == "__main__":
    main()
