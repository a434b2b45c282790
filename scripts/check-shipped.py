#!/usr/bin/python3
"""Checks the files a release ships, and how their programs are hardened.

Usage: check-shipped.py [--contents-only] [--objects BUILD=DIR]... [--abi LIBRARY]
                        [--hwidwin-32 EXE] [--hwidwin-64 EXE]
                        [--libhwid-32 DLL] [--libhwid-64 DLL] FILE...

FILE: a Debian package (hwidtool, libhwid1, libhwid-dev), an RPM
(hwidtool-*.ARCH.rpm), a portable archive (hwidtool-*-linux-ARCH.tar.gz), the
library's (libhwid-*-linux-ARCH.tar.gz), the Windows archives
(hwidwin-*-windows.zip, libhwid-*-windows.zip) or a program as built: what it
holds (an RPM's program is the portable one, byte for byte; the library exports
hwid.h's functions alone, the portable one needs only the C library, none newer
than glibc 2.34; libhwid1's symbols file lists those functions and no other;
hwid.dll exports them as its hwid.def lists them), and its
programs' hardening, read by pyelftools and pefile (and for the
Debian packages, Debian's own hardening-check). hwidwin.exe and hwid.dll may
each import only the DLLs of its own list.
--objects BUILD=DIR: a build folder. BUILD is x86_64, aarch64 or armhf (the
portable program, and the RPM's), win32 or win64 (hwidwin.exe and hwid.dll),
deb12-amd64, deb12-arm64, deb13-amd64 or deb13-arm64 (hwidtool's Debian
package), or libhwid-BUILD for libhwid's own folder beside the portable or
Debian one (libhwid-x86_64, libhwid-deb12-amd64, ...). A binary's objects are
those its CMake target's link used there: the objects and archives its link.txt
names. A stripped static program, or a PE one, keeps no trace of the stack
protector or of fortified calls: each archive of its link, and its own objects,
must call __stack_chk_fail, and one of them a __*_chk function.
Every object of an ELF binary must be marked for control-flow protection,
whether the binary is or not.
--hwidwin-32/-64, --libhwid-32/-64: the builds the Windows archives must hold.
--contents-only: no programs, only the packages' and archives' contents.
--abi LIBRARY: a build of libhwid.so.1 with its debug information, whose
interface must be the committed one (libhwid/hwid.abi) or a compatible
extension of it, as abidiff judges.
What cannot be read is a failure, never a pass. The checks first run on
programs built here without protection, ELF and PE: a check that passes one
is broken.
"""
import argparse
import collections
import io
import os
import re
import shlex
import stat
import subprocess
import sys
import tarfile
import tempfile
import zipfile

DEB_FILES = {"./usr/bin/hwidtool": "-rwxr-xr-x", **{path: "-rw-r--r--" for path in (
    *("./usr/share/doc/hwidtool/" + f for f in ("README.md", "changelog.Debian.gz", "copyright")),
    "./usr/share/man/man1/hwidtool.1.gz")}}
DEB_DEPENDS = ["libpystring0 (>= ", "libc6 (>= ", "libstdc++6 (>= "]
# libhwid's Debian packages, by package: its files (TRIPLET: the multiarch folder), links,
# and what Depends must hold (VERSION: the package's own; MAJOR: any number).
LIBRARY_DEBS = {
    "libhwid1": ({"./usr/lib/TRIPLET/libhwid.so.1.0.0": "-rw-r--r--", **{
        "./usr/share/doc/libhwid1/" + f: "-rw-r--r--" for f in ("changelog.Debian.gz", "copyright")}},
        {"./usr/lib/TRIPLET/libhwid.so.1": "libhwid.so.1.0.0"}, DEB_DEPENDS + ["libgcc-s1 (>= "]),
    "libhwid-dev": ({path: "-rw-r--r--" for path in (
        "./usr/include/hwid.h", "./usr/lib/TRIPLET/libhwid.a", "./usr/lib/TRIPLET/pkgconfig/hwid.pc",
        "./usr/share/man/man3/hwid.3.gz", *("./usr/lib/TRIPLET/cmake/hwid/" + f for f in (
            "hwidConfig.cmake", "hwidConfigVersion.cmake", "hwidTargets.cmake",
            "hwidTargets-relwithdebinfo.cmake")),
        *("./usr/share/doc/libhwid-dev/" + f for f in ("changelog.Debian.gz", "copyright")))},
        {"./usr/lib/TRIPLET/libhwid.so": "libhwid.so.1"}, ["libhwid1 (= VERSION)", "libpystring-dev", "libstdc++-MAJOR-dev"]),
}
DEBIAN_TRIPLET = {"amd64": "x86_64-linux-gnu", "arm64": "aarch64-linux-gnu"}
RPM_FILES = {"/usr/bin/hwidtool": "-rwxr-xr-x", **{path: "-rw-r--r--" for path in (
    "/usr/share/doc/hwidtool/README.md", "/usr/share/licenses/hwidtool/LICENSE",
    "/usr/share/licenses/hwidtool/LICENSE.pystring", "/usr/share/man/man1/hwidtool.1.gz")}}
TARBALL_FILES = ["LICENSE", "LICENSE.pystring", "README.md", "hwidtool", "hwidtool.1"]
LIBRARY_FILE = "lib/libhwid.so.1.0.0"
LIBRARY_TARBALL_FILES = sorted([
    "LICENSE", "LICENSE.pystring", "README.md", "include/hwid.h", LIBRARY_FILE, "lib/libhwid.a",
    "lib/pkgconfig/hwid.pc", "share/man/man3/hwid.3", *("lib/cmake/hwid/" + f for f in (
        "hwidConfig.cmake", "hwidConfigVersion.cmake", "hwidTargets.cmake",
        "hwidTargets-release.cmake"))])
LIBRARY_LINKS = {"lib/libhwid.so": "libhwid.so.1", "lib/libhwid.so.1": "libhwid.so.1.0.0"}
LIBRARY_SONAME = "libhwid.so.1"
# The oldest C library the portable library loads on: what it may ask for.
LIBRARY_GLIBC = (2, 34)
# Beside the C library, its loader: the C++ run-time inside reaches thread-local
# storage through it.
LIBRARY_NEEDED = {"libc.so.6", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}
# A shared library is not a program: what it must have of the programs' hardening.
LIBRARY_REQUIRED = {"RELRO", "BIND_NOW", "NX", "SSP", "STRIPPED", "OBJ_CET/BTI"}
ZIP_TEXTS = {  # what each text of the Windows archive must say
    "LICENSE.txt": [b"MIT License"],
    "README.txt": [b"64-bit\\hwidwin.exe", b"32-bit\\hwidwin.exe", b"--generate"],
    "THIRD-PARTY-NOTICES.txt": [b"pystring", b"Copyright: ", b"Redistribution and use in "
                                b"source and binary forms", b"Neither the name of the organization"],
}
ZIP_FILES = sorted(["32-bit/hwidwin.exe", "64-bit/hwidwin.exe", *ZIP_TEXTS])
LIBRARY_ZIP_TEXTS = {**ZIP_TEXTS, "README.txt": [
    b"-lhwid", b"lib /def:x64\\hwid.def /machine:x64", b"no other DLL than Windows' own"]}
LIBRARY_ZIP_WIDTHS = {"x86": ("32", "i686"), "x64": ("64", "x86_64")}
LIBRARY_ZIP_FILES = sorted(["include/hwid.h", *LIBRARY_ZIP_TEXTS, *(w + "/" + f for w in
                            LIBRARY_ZIP_WIDTHS for f in ("hwid.def", "hwid.dll", "libhwid.a",
                                                         "libhwid.dll.a"))])
# The functions hwid.h declares: what the library must export, and nothing else.
HWID_FUNCTIONS = re.compile(r"^HWID_API\b[^(;]*?\b(hwid_\w+)\s*\(", re.M)
# Each binary's CMake target: the folder of its link in a build, and for a Windows file the
# DLLs it may import, all of them Windows' own (KnownDLLs), which no planted copy replaces.
# The library loads into a vendor's program: it draws no window, so it needs no more than
# the C library and the kernel.
TARGETS = {"hwidtool": ("linux/cli", None),
           "hwidwin": ("windows", {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll",
                                   "msvcrt.dll"}),
           "hwid": ("libhwid", {"kernel32.dll", "msvcrt.dll"})}
DEBIAN_ARCH = {"amd64": "x86_64", "arm64": "aarch64", "armhf": "armhf"}

# Properties a platform cannot have: shown as "-", never required. Debian 12 has no
# rcrt1.o for armhf: its static program is no static-pie, with nothing to bind late;
# 32-bit arm has no branch-protection marking, 32-bit Windows no 64-bit address space.
NOT_OFFERED = {"armhf": {"PIE", "BIND_NOW", "CET/BTI", "OBJ_CET/BTI"}, "i686": {"HIGH_ENTROPY_VA"}}
# Shown but not required, and why; required only in the rows named.
REPORTED_ONLY = {
    # The linker marks a program IBT/SHSTK (x86_64) or BTI/PAC (aarch64) only when every
    # object it links is marked. Ours are (OBJ_CET/BTI); Debian 12's C library is not (nor,
    # on arm64, its libstdc++ and libgcc), nor are Debian 13's crt objects for amd64; all of
    # its arm64 is.
    "CET/BTI": ("the program is marked only when every object linked into it is, the C "
                "library's too; required where all are", {"deb13 arm64"}),
    # hardening-check also disassembles x86 only: its "?" says nothing.
    "CLASH": ("reported: probes show only in functions with large or variable frames", set()),
    "FORTIFIED": ("reported: MinGW fortifies only calls of known buffer size; hwidwin has none",
                  set()),
}


class Unreadable(Exception):
    """A file or a tool's words that a check needs could not be read."""


def run(*command, ok=(0,), text=True, stdin=None, empty=False):
    try:
        result = subprocess.run(command, capture_output=True, input=stdin)
    except OSError as error:
        raise Unreadable("%s: %s" % (command[0], error))
    if result.returncode not in ok or not (result.stdout or empty):
        raise Unreadable("%s gave status %d: %s" % (" ".join(command), result.returncode, (
            result.stderr.decode(errors="replace").strip()[-300:] or "no output")))
    return result.stdout.decode() if text else result.stdout


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


class Program:
    """What the checks read of a program, all of it here: a file its library cannot parse fails
    before any check runs. read() imports the library: checking contents alone needs none."""

    def __init__(self, path):
        try:
            with open(path, "rb") as f:
                self.read(f)
        except Exception as error:  # A library may raise anything on a malformed file.
            raise Unreadable("%s cannot read %s: %s: %s" % (
                self.LIBRARY, path, type(error).__name__, error)) from error


def archive_members(path, into):
    """The members of an ar archive, each written to a file of its own in the folder into
    (two members may have one name): pyelftools, nm and hardening-check read objects."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"!<arch>\n"):
        raise Unreadable("%s is no ar archive" % path)
    at, long_names, members = 8, b"", []
    while at < len(data):
        header = data[at:at + 60]
        if len(header) < 60 or header[58:] != b"`\n":
            raise Unreadable("%s: no member header at byte %d" % (path, at))
        name, size = header[:16].decode("latin-1").rstrip(), int(header[48:58])
        body, at = data[at + 60:at + 60 + size], at + 60 + size + size % 2
        if name == "//":  # the names too long for a header
            long_names = body
        elif name not in ("/", "/SYM64/"):  # not the symbol index
            if re.fullmatch(r"/\d+", name):
                start = int(name[1:])
                name = long_names[start:long_names.index(b"/\n", start)].decode("latin-1")
            member = os.path.join(into, "%d" % len(members), name.rstrip("/"))
            os.makedirs(os.path.dirname(member))
            with open(member, "wb") as f:
                f.write(body)
            members.append(member)
    return members


def linked_objects(folder, target, work):
    """The objects and archives of ours that a build's link of the target used, as CMake wrote
    its command in link.txt, paths relative to the folder the link runs in: [(name, [object
    files])], the loose objects as one, each archive as one, its members written out in work.
    The system's libraries it links (-l, a shared library) are the distribution's: only
    objects and archives of the build folder are ours, and one from elsewhere is a failure."""
    where = os.path.join(folder, TARGETS[target][0])
    link = os.path.join(where, "CMakeFiles", target + ".dir", "link.txt")
    try:
        with open(link) as f:
            commands = [shlex.split(line) for line in f if line.strip()]
        # The link is the command that writes a file; MinGW's first gathers the objects
        # in an archive (ar qc), and the others remove the old one.
        linking = [c for c in commands if "-o" in c]
        if len(linking) != 1:
            raise Unreadable("%s holds %d commands that write with -o, not one link" % (
                link, len(linking)))
        words = []
        for word in linking[0][1:]:
            if word.startswith("@"):  # a response file
                with open(os.path.join(where, word[1:])) as f:
                    words += shlex.split(f.read())
            else:
                words.append(word)
    except (OSError, ValueError) as error:
        raise Unreadable("%s cannot be read: %s" % (link, error))
    inputs = []
    for word in words:
        path = os.path.normpath(os.path.join(where, word))
        if not word.startswith("-") and re.search(r"\.(o|obj|a)$", word) and path not in inputs:
            inputs.append(path)
    for path in inputs:
        if not os.path.isfile(path) or os.path.relpath(path, folder).startswith(".."):
            raise Unreadable("%s links %s, %s" % (link, path, "not in the build folder %s" % folder
                                                  if os.path.isfile(path) else "which is not there"))
    loose = [p for p in inputs if not p.endswith(".a")]
    units = [(os.path.relpath(os.path.commonpath(loose) if len(loose) > 1 else loose[0], folder),
              loose)] if loose else []
    for path in (p for p in inputs if p.endswith(".a")):
        units.append((os.path.relpath(path, folder), archive_members(
            path, tempfile.mkdtemp(prefix="objects-", dir=work))))
    if not any(members for _, members in units):
        raise Unreadable("%s links no object" % link)
    return units


# What the checks read of an object: the symbols it leaves undefined, the functions it
# defines, its GNU properties (None for COFF).
Object = collections.namedtuple("Object", "path undefined functions properties")
OBJECT_CACHE = {}  # path: its Object, for an ELF one (the RPM's rows share the portable's)


def coff_symbols(objects, options):
    """nm's symbols of COFF objects (pefile reads none), by object: (type, name)."""
    # One object's lines, or many's, each line led by its file's name.
    lines = re.findall(r"^(.*?):\s*(?:[0-9a-f]+)?\s+(\w) (\S+)$", run(
        "x86_64-w64-mingw32-nm", "-A", *options, *objects, empty=True), re.M)
    found = {o: set() for o in objects}
    for path, kind, name in lines:
        found[path].add((kind, name))
    return found


def read_units(units):
    """What each unit's objects tell: (unit, [Object])."""
    read = []
    for unit, members in units:
        coff = [m for m in members if not is_elf(m)]
        if coff:
            undefined, defined = (coff_symbols(coff, options) for options in (["-u"], ["--defined-only"]))
            for m in coff:
                OBJECT_CACHE[m] = Object(m, {n for _, n in undefined[m]}, {
                    n for kind, n in defined[m] if kind in "TtWw" and not n.startswith(".")}, None)
        for member in members:
            if member not in OBJECT_CACHE:
                elf = Elf(member)
                OBJECT_CACHE[member] = Object(member, elf.undefined, elf.functions, elf.properties)
        read.append((unit, [OBJECT_CACHE[m] for m in members]))
    return read


def calls(objects, pattern):
    """Whether one of the objects calls a function whose name matches (i686 names carry a
    leading underscore)."""
    return any(re.fullmatch("_?" + pattern, n) for o in objects for n in o.undefined)


# The units of a link that may show no call of __stack_chk_fail, with every function they
# may define (i686 names without their _ and @N): hwidwin.exe's own objects are WinMain,
# which hands over to windows_ui at once, and the stack guard, which must not guard itself;
# none of them has an array or a local whose address is taken, so -fstack-protector-strong
# guards none. A function added to them shows.
UNGUARDED = {("hwidwin", "windows/CMakeFiles/hwidwin.dir/objects.a"): {
    "WinMain", "__stack_chk_fail", "__stack_chk_fail_local", "__chk_fail",
    "_ZN12_GLOBAL__N_114seedStackGuardEv"}}


def stack_protected(p):
    """Whether each unit of the program's link calls __stack_chk_fail: a binary's own objects
    taken together, each archive on its own, so that one built without the protector shows
    beside others built with it; "?" without objects."""
    if p.units is None:
        return "?"
    lacking = []
    for unit, objects in p.units:
        if not calls(objects, r"__stack_chk_fail(_local)?"):
            functions = {re.sub(r"^_|@\d+$", "", f) if p.arch == "i686" else f
                         for o in objects for f in o.functions}
            if not functions <= UNGUARDED.get((p.target, unit), set()):
                lacking.append(unit)
    return ("no", "no call of __stack_chk_fail in " + ", ".join(lacking)) if lacking else True


def fortified(p):
    """Whether an object of the program's link calls what fortified C library calls become."""
    return "?" if p.units is None else any(calls(objects, r"__\w+_chk") for _, objects in p.units)


ELF_MACHINE = {"EM_X86_64": "x86_64", "EM_AARCH64": "aarch64", "EM_ARM": "armhf"}
DF_BIND_NOW, DF_1_NOW, DF_1_PIE, PF_X = 0x8, 0x1, 0x08000000, 0x1
# The GNU property marking control-flow protection, whose two low bits are
# IBT and SHSTK, or BTI and PAC (pyelftools 0.29 has no name for AArch64's).
CF_PROTECTION = {"x86_64": "GNU_PROPERTY_X86_FEATURE_1_AND", "aarch64": 0xc0000000}


class Elf(Program):
    """An ELF file; its exports, SONAME and C library are for a shared library's checks."""
    LIBRARY = "pyelftools"

    def read(self, f):
        from elftools.elf.elffile import ELFFile
        elf = ELFFile(f)
        self.type, self.arch = elf["e_type"], ELF_MACHINE.get(elf["e_machine"], "?")
        segments = list(elf.iter_segments())
        # As the loader reads them: the first segment of each type.
        self.segments = {s["p_type"]: s["p_flags"] for s in reversed(segments)}
        tags = [t for s in segments if s["p_type"] == "PT_DYNAMIC" for t in s.iter_tags()]
        self.dynamic = {}  # tag: its values or'ed, a flag set in any of them
        for d in (t.entry for t in tags):
            self.dynamic[d.d_tag] = self.dynamic.get(d.d_tag, 0) | d.d_val
        self.soname = next((t.soname for t in tags if t.entry.d_tag == "DT_SONAME"), None)
        self.needed = {t.needed for t in tags if t.entry.d_tag == "DT_NEEDED"}
        self.shared = self.type == "ET_DYN" and self.soname is not None
        sections = list(elf.iter_sections())
        # A program's notes where the loader finds them, an object's where the linker does.
        # pyelftools leaves the data of properties it has no name for as bytes.
        notes = [s for s in segments if s["p_type"] == "PT_NOTE"] if segments else [
            s for s in sections if s["sh_type"] == "SHT_NOTE"]
        self.properties = {p.pr_type: p.pr_data if isinstance(p.pr_data, int) else
                           int.from_bytes(p.pr_data, "little" if elf.little_endian else "big")
                           for s in notes for n in s.iter_notes()
                           if n["n_type"] == "NT_GNU_PROPERTY_TYPE_0" for p in n["n_desc"]}
        self.symtab = any(s["sh_type"] == "SHT_SYMTAB" for s in sections)
        symbols = [(s["sh_type"], sym) for s in sections if s["sh_type"] in (
            "SHT_SYMTAB", "SHT_DYNSYM") for sym in s.iter_symbols() if sym.name]
        self.undefined = {sym.name for _, sym in symbols if sym["st_shndx"] == "SHN_UNDEF"}
        self.functions = {sym.name for _, sym in symbols if sym["st_shndx"] != "SHN_UNDEF" and
                          sym["st_info"]["type"] == "STT_FUNC"}
        self.exports = {sym.name for kind, sym in symbols if kind == "SHT_DYNSYM" and
                        sym["st_shndx"] != "SHN_UNDEF" and sym["st_info"]["bind"] !=
                        "STB_LOCAL" and sym["st_other"]["visibility"] != "STV_HIDDEN"}
        self.static = "PT_INTERP" not in self.segments and "DT_NEEDED" not in self.dynamic
        # The newest C library version needed, as (x, y): the oldest it runs on.
        needed = [re.fullmatch(r"GLIBC_(\d+(\.\d+)+)", a.name) for s in sections if
                  s["sh_type"] == "SHT_GNU_verneed" for _, auxes in s.iter_versions() for a in auxes]
        self.glibc = max((tuple(map(int, v[1].split("."))) for v in needed if v), default=None)


def cf_marked(arch, properties):
    return properties.get(CF_PROTECTION.get(arch), 0) & 0x3 == 0x3


def objects_unmarked(elf):
    """Whether every object of the program's link is marked for control-flow protection."""
    unmarked = [(unit, sum(not cf_marked(elf.arch, o.properties or {}) for o in objects),
                 len(objects)) for unit, objects in elf.units]
    return ("no", "objects unmarked: " + ", ".join(
        "%s %d of %d" % u for u in unmarked if u[1])) if any(u[1] for u in unmarked) else True


def hardening_check(files):
    """hardening-check's verdict by property ("Stack protected": yes, no, ?),
    yes when one of the files has it. Its status says little (1 when a file
    lacks one): every file must have its report, with every line read here."""
    reports = re.split(r"^(\S.*):$", run("hardening-check", "--verbose", *files, ok=(0, 1))
                       if files else "", flags=re.M)
    by_file = dict(zip(reports[1::2], reports[2::2]))
    found = [dict(re.findall(r"^ (\S[^:]*): (.*)$", by_file.get(path, ""), re.M)) for path in files]
    for path, lines in zip(files, found):
        missing = [name for name in ("Stack protected", "Fortify Source functions",
                                     "Stack clash protection") if name not in lines]
        if missing:
            raise Unreadable("hardening-check gave no %s for %s" % (", ".join(missing), path))
    return {name: "yes" if any(f.get(name, "").startswith("yes") for f in found) else
            "?" if all(f.get(name, "unknown").startswith("unknown") for f in found) else "no"
            for name in set().union(*found)}


def by_report(line, static_check=None):
    """A dynamic program as Debian's hardening-check judges it; a static one (it takes
    static-pie for a shared library) by static_check, else as it judges its objects."""
    return lambda elf: static_check(elf) if elf.static and static_check else elf.report.get(line, "?")


ELF_CHECKS = {
    "PIE": lambda elf: "-" if elf.shared else by_report(
        "Position Independent Executable", lambda elf: (
            elf.type == "ET_DYN" and elf.dynamic.get("DT_FLAGS_1", 0) & DF_1_PIE))(elf),
    "RELRO": lambda elf: "PT_GNU_RELRO" in elf.segments,
    "BIND_NOW": lambda elf: "DT_BIND_NOW" in elf.dynamic or elf.dynamic.get(
        "DT_FLAGS", 0) & DF_BIND_NOW or elf.dynamic.get("DT_FLAGS_1", 0) & DF_1_NOW,
    # Without a GNU_STACK segment the stack is executable.
    "NX": lambda elf: not elf.segments.get("PT_GNU_STACK", PF_X) & PF_X,
    "SSP": by_report("Stack protected", stack_protected),
    "FORTIFY": by_report("Fortify Source functions", fortified),
    "CLASH": by_report("Stack clash protection"),
    "CET/BTI": lambda elf: cf_marked(elf.arch, elf.properties),
    "OBJ_CET/BTI": lambda elf: "?" if elf.units is None else objects_unmarked(elf),
    "STRIPPED": lambda elf: not elf.symtab,
    "STATIC": lambda elf: "yes" if elf.static else "-",
}
PE_MACHINE = {0x8664: "x86_64", 0x14c: "i686"}
PE_OBJECTS = {"i686": "win32", "x86_64": "win64"}  # --objects names of the builds


class Pe(Program):
    """A PE program: its DLL characteristics and sections (marks), imports and exports."""
    LIBRARY = "pefile"

    def read(self, f):
        import pefile
        pe = pefile.PE(data=f.read(), fast_load=True)
        pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + t]
                                   for t in ("IMPORT", "DELAY_IMPORT", "EXPORT")])
        # pefile passes over what it cannot make sense of, with a warning.
        if pe.get_warnings():
            raise ValueError("; ".join(pe.get_warnings()))
        self.arch = PE_MACHINE.get(pe.FILE_HEADER.Machine, "?")
        self.dll = bool(pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"])
        self.marks = {s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections} | {
            name.replace("IMAGE_DLLCHARACTERISTICS_", "") for name, bit in
            pefile.dll_characteristics if pe.OPTIONAL_HEADER.DllCharacteristics & bit}
        # A DLL loaded late is loaded all the same.
        self.imports = {i.dll.decode("latin-1").lower() for i in getattr(
            pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
        exports = getattr(getattr(pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", [])
        self.exports = {s.name.decode("latin-1") for s in exports if s.name}


def imports_allowed(pe):
    """Whether the file imports only the DLLs its target may (MinGW's libssp-0.dll, say, is
    on no list: its start-up loads the cryptographic provider's DLLs by the search order)."""
    allowed = TARGETS[pe.target][1]
    if not pe.imports:
        return "no", "imports nothing: its import table was not found"
    beyond = sorted(pe.imports - allowed)
    return ("no", "imports %s, beyond %s%s's %s" % (" ".join(beyond), pe.target, ".dll" if pe.dll
                                                     else ".exe", " ".join(sorted(allowed)))
            ) if beyond else True


PE_CHECKS = {
    **{mark: lambda pe, mark=mark: mark in pe.marks
       for mark in ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT", ".reloc")},
    "IMPORTS": lambda pe: imports_allowed(pe),
    "SSP": stack_protected,
    "FORTIFIED": fortified,
}
# Each kind of program: how it is read, its columns, those its objects tell.
KINDS = {"ELF": (Elf, ELF_CHECKS, "OBJ_CET/BTI, and a static program's SSP, FORTIFY, CLASH"),
         "PE": (Pe, PE_CHECKS, "SSP, FORTIFIED")}


def header_functions(header):
    return set(HWID_FUNCTIONS.findall(header))


class Shipped:
    """Problems found in the files' contents, and the programs found in them: (row name,
    path, expected arch or None, target, objects); the portable and RPM programs' bytes by
    arch."""

    def __init__(self, args, work):
        self.args, self.work, self.problems, self.programs = args, work, [], []
        self.portable, self.rpm_programs = {}, {}  # arch -> bytes; arch -> (package, bytes)
        self.deb_exports, self.deb_headers = {}, {}  # (release, arch) -> (row, names); names
        self.links = {}  # (build, target) -> its link's units, or None where it cannot be read

    def expect(self, ok, problem):
        if not ok:
            self.problems.append(problem)
            print("FAIL " + problem)
        return ok

    def objects(self, build, target):
        """The units of the target's link in the folder --objects gives for the build, None
        without one; one that cannot be read is a problem, once."""
        folder = self.args.objects.get(build)
        if folder and (build, target) not in self.links:
            try:
                self.links[build, target] = linked_objects(folder, target, self.work)
            except Unreadable as error:
                self.expect(False, "--objects %s=%s: %s" % (build, folder, error))
                self.links[build, target] = None
        return self.links.get((build, target))

    def program(self, row, data, arch, target, build):
        path = os.path.join(self.work, row.replace(" ", "-"))
        with open(path, "wb") as f:
            f.write(data)
        self.programs.append((row, path, arch, target, self.objects(build, target)))

    def deb(self, path, name):
        arch, package = re.sub(r".*_|\.deb$", "", name), name.split("_")[0]
        fields = dict(re.findall(r"^([\w-]+): (.*)$", run("dpkg-deb", "-f", path), re.M))
        print("%s: %s; Depends: %s" % (name, arch, fields.get("Depends")))
        self.expect(fields.get("Architecture") == arch, "%s: Architecture is %s" % (
            name, fields.get("Architecture")))
        want, links, depends = DEB_FILES, {}, DEB_DEPENDS
        if package in LIBRARY_DEBS:
            def fill(text):
                return text.replace("TRIPLET", DEBIAN_TRIPLET.get(arch, "?")).replace(
                    "VERSION", fields.get("Version", "?"))
            want, links, depends = LIBRARY_DEBS[package]
            want, links = ({fill(k): v for k, v in table.items()} for table in (want, links))
            depends = [fill(d) for d in depends]
            self.expect(fields.get("Multi-Arch") == "same", "%s: Multi-Arch is %s" % (
                name, fields.get("Multi-Arch")))
        for lib in depends:
            self.expect(re.search(re.escape(lib).replace("MAJOR", r"\d+"), fields.get("Depends", "")),
                        "%s: Depends lacks %s" % (name, lib))
        release = re.sub(r".*~(deb\d+)_.*", r"\1", name)
        with tarfile.open(fileobj=io.BytesIO(run("dpkg-deb", "--fsys-tarfile", path, text=False))) as tar:
            members = [m for m in tar.getmembers() if not m.isdir()]
            files = {m.name: stat.filemode(stat.S_IFREG | m.mode) for m in members if not m.issym()}
            found_links = {m.name: m.linkname for m in members if m.issym()}
            if not self.expect(files == want and found_links == links,
                               "%s: files and modes %s, links %s" % (name, files, found_links)):
                return
            if package == "hwidtool":
                self.program("%s %s" % (release, arch), tar.extractfile("./usr/bin/hwidtool").read(),
                             DEBIAN_ARCH.get(arch), "hwidtool", "%s-%s" % (release, arch))
            elif package == "libhwid1":
                self.library_deb(path, name, (release, arch), tar.extractfile(
                    [n for n in files if n.endswith(".so.1.0.0")][0]).read())
            else:
                self.deb_headers[release, arch] = header_functions(
                    tar.extractfile("./usr/include/hwid.h").read().decode())

    def library_deb(self, path, name, key, library):
        """The shared library's row, and what its symbols file lists; its exports are compared
        with the hwid.h of its -dev package once all files are read (debs_agree)."""
        row = "libhwid %s %s" % key
        self.program(row, library, DEBIAN_ARCH.get(key[1]), "hwid", "libhwid-%s-%s" % key)
        elf = Elf(self.programs[-1][1])
        symbols = run("dpkg-deb", "--info", path, "symbols").splitlines()
        listed = {re.sub("@.*", "", line.split()[0]) for line in symbols if line.startswith(" ")}
        self.expect(symbols[:1] == ["libhwid.so.1 libhwid1 #MINVER#"] and listed == elf.exports,
                    "%s: symbols file lists %s, the library exports %s" % (
                        name, " ".join(sorted(listed)), " ".join(sorted(elf.exports))))
        self.expect(elf.soname == LIBRARY_SONAME, "%s: SONAME %s" % (row, elf.soname))
        self.deb_exports[key] = (row, elf.exports)

    def debs_agree(self):
        for key, (row, exports) in sorted(self.deb_exports.items()):
            functions = self.deb_headers.get(key)
            if functions is None:
                print("%s: no libhwid-dev of %s %s checked beside it to compare with" % (row, *key))
            elif self.expect(functions and exports == functions, "%s: exports %s, hwid.h declares %s" % (
                    row, " ".join(sorted(exports)), " ".join(sorted(functions)))):
                print("%s: exports the %d functions of hwid.h and its symbols file, SONAME %s" % (
                    row, len(functions), LIBRARY_SONAME))

    def rpm(self, path, name):
        arch = re.sub(r".*\.(\w+)\.rpm$", r"\1", name)
        query = run("rpm", "-qp", "--qf", "%{ARCH} %{LICENSE} %{PAYLOADCOMPRESSOR}\\n", path).split()
        requires = [r for r in run("rpm", "-qp", "--requires", path).split("\n") if r]
        listing = {fields[-1]: fields[0] for fields in map(str.split, run(
            "rpm", "-qlvp", path).splitlines()) if not fields[0].startswith("d")}
        print("%s: %s, %s, %s payload; requires %s" % (name, *query[:3], ", ".join(requires)))
        self.expect(query == [arch, "MIT", "xz"], "%s: arch, licence, payload are %s" % (
            name, " ".join(query)))
        self.expect(all(r.startswith("rpmlib(") for r in requires),
                    "%s: requires more than rpmlib features: %s" % (name, requires))
        if self.expect(listing == RPM_FILES, "%s: files and modes %s" % (name, listing)):
            program = run("cpio", "-i", "--quiet", "--to-stdout", "./usr/bin/hwidtool",
                          stdin=run("rpm2cpio", path, text=False), text=False)
            self.rpm_programs[arch] = (name, program)
            self.program("rpm " + arch, program, arch, "hwidtool", arch)

    def rpm_programs_are_portable(self):
        for arch, (name, program) in self.rpm_programs.items():
            if arch not in self.portable:
                print("%s: no %s archive checked beside it to compare with" % (name, arch))
            elif self.expect(program == self.portable[arch],
                             "%s: /usr/bin/hwidtool is not the %s archive's program" % (name, arch)):
                print("%s: /usr/bin/hwidtool is the %s archive's program" % (name, arch))

    def tar_gz(self, path, name):
        arch, top = re.sub(r".*-linux-|\.tar\.gz$", "", name), name[:-len(".tar.gz")]
        if name.startswith("libhwid-"):
            return self.library_tar_gz(path, name, arch, top)
        with tarfile.open(path) as tar:
            members = tar.getmembers()
            files = sorted(m.name[len(top) + 1:] for m in members if m.isfile())
            if not self.expect(files == TARBALL_FILES and all(m.name.startswith(top) for m in members),
                               "%s: files %s" % (name, " ".join(m.name for m in members))):
                return
            self.portable[arch] = tar.extractfile(top + "/hwidtool").read()
        print("%s: %d files" % (name, len(files)))
        self.program("linux-" + arch, self.portable[arch], arch, "hwidtool", arch)

    def library_tar_gz(self, path, name, arch, top):
        with tarfile.open(path) as tar:
            members = tar.getmembers()
            inside = {m.name[len(top) + 1:]: m for m in members}
            files = sorted(n for n, m in inside.items() if m.isfile())
            links = {n: m.linkname for n, m in inside.items() if m.issym()}
            if not self.expect(files == LIBRARY_TARBALL_FILES and links == LIBRARY_LINKS and all(
                    m.name.startswith(top + "/") or m.name == top for m in members),
                    "%s: files %s" % (name, " ".join(m.name for m in members))):
                return
            header = tar.extractfile(top + "/include/hwid.h").read().decode()
            library = tar.extractfile(top + "/" + LIBRARY_FILE).read()
        print("%s: %d files, %d links" % (name, len(files), len(links)))
        row = "libhwid linux-" + arch
        self.program(row, library, arch, "hwid", "libhwid-" + arch)
        elf = Elf(self.programs[-1][1])
        functions = header_functions(header)
        self.expect(functions and elf.exports == functions, "%s: exports %s, hwid.h declares %s" % (
            row, " ".join(sorted(elf.exports)), " ".join(sorted(functions))))
        self.expect(elf.soname == LIBRARY_SONAME, "%s: SONAME %s" % (row, elf.soname))
        self.expect("libc.so.6" in elf.needed and elf.needed <= LIBRARY_NEEDED,
                    "%s: needs %s" % (row, " ".join(sorted(elf.needed))))
        self.expect(elf.glibc and elf.glibc <= LIBRARY_GLIBC, "%s: needs glibc %s" % (
            row, ".".join(map(str, elf.glibc or ())) or "of no version"))
        print("%s: exports the %d functions of hwid.h, SONAME %s, needs %s, glibc %s" % (
            row, len(functions), elf.soname, " ".join(sorted(elf.needed)),
            ".".join(map(str, elf.glibc or ()))))

    def zip(self, path, name):
        archive = zipfile.ZipFile(path)
        names = archive.namelist()
        top = names[0].split("/", 1)[0] + "/"
        files = sorted(n[len(top):] for n in names if not n.endswith("/"))
        library = name.startswith("libhwid-")
        wanted, texts = (LIBRARY_ZIP_FILES, LIBRARY_ZIP_TEXTS) if library else (ZIP_FILES, ZIP_TEXTS)
        if not self.expect(files == wanted and all(n.startswith(top) for n in names),
                           "%s: files %s, want %s" % (name, files, wanted)):
            return
        if library:
            self.library_zip(archive, name, top)
        else:
            for bits, build in (("32", self.args.hwidwin_32), ("64", self.args.hwidwin_64)):
                inside = archive.read(top + bits + "-bit/hwidwin.exe")
                self.expect(not build or inside == open(build, "rb").read(),
                            "%s: %s-bit/hwidwin.exe is not %s" % (name, bits, build))
                self.program("windows %s-bit" % bits, inside, None, "hwidwin", "win" + bits)
        for text, words in texts.items():
            body = archive.read(top + text)
            self.expect(b"\r\n" in body and body.count(b"\n") == body.count(b"\r\n"),
                        "%s: %s does not end its lines with CR LF" % (name, text))
            for word in words:
                self.expect(word in body, "%s: %s lacks %r" % (name, text, word))
        print("%s: %d files" % (name, len(files)))

    def library_zip(self, archive, name, top):
        """Each hwid.dll: the build's, exporting hwid.h's functions as its hwid.def lists them."""
        functions = header_functions(archive.read(top + "include/hwid.h").decode())
        for folder, (bits, arch) in LIBRARY_ZIP_WIDTHS.items():
            row, build = "libhwid windows-" + folder, getattr(self.args, "libhwid_" + bits)
            inside = archive.read(top + folder + "/hwid.dll")
            self.expect(not build or inside == open(build, "rb").read(),
                        "%s: %s/hwid.dll is not %s" % (name, folder, build))
            self.program(row, inside, arch, "hwid", "win" + bits)
            dll = Pe(self.programs[-1][1])
            listed = archive.read(top + folder + "/hwid.def").decode()
            listed = self.expect(re.search(r"^LIBRARY hwid\.dll\r?$", listed, re.M) and set(
                re.findall(r"^    (hwid_\w+)\r?$", listed, re.M)) == functions,
                "%s: %s/hwid.def does not list hwid.h's functions for hwid.dll" % (name, folder))
            if self.expect(functions and dll.exports == functions, "%s: exports %s, hwid.h "
                           "declares %s" % (row, " ".join(sorted(dll.exports)),
                                            " ".join(sorted(functions)))) and listed:
                print("%s: exports the %d functions of hwid.h, as %s/hwid.def lists them; imports %s"
                      % (row, len(functions), folder, " ".join(sorted(dll.imports))))

    def add(self, path):
        ending = re.search(r"\.(deb|rpm|tar\.gz|zip)$", path)
        if ending:
            return getattr(self, ending.group(1).replace(".", "_"))(path, os.path.basename(path))
        # A program as built: the build named by its architecture, the target by its kind.
        program = Elf(path) if is_elf(path) else Pe(path)
        build = program.arch if is_elf(path) else PE_OBJECTS.get(program.arch)
        target = "hwid" if (program.shared if is_elf(path) else program.dll) else (
            "hwidtool" if is_elf(path) else "hwidwin")
        self.expect(not build or not self.args.objects or build in self.args.objects,
                    "%s is for %s: no objects given for it" % (path, build))
        self.programs.append((path, path, None, target, self.objects(build, target)))


def check_program(row, path, expected_arch, target, units):
    """The row's kind, architecture, values (name -> text) and failures ((column or None,
    text), one for each fault)."""
    kind = "ELF" if is_elf(path) else "PE"
    program = KINDS[kind][0](path)
    program.target, program.units = target, None if units is None else read_units(units)
    if kind == "ELF":  # A static program leaves hardening-check only its objects to read.
        program.report = hardening_check(
            [m for _, members in units or [] for m in members] if program.static else [path])
    values, failures = {}, []
    if expected_arch and program.arch != expected_arch:
        failures.append((None, "is for %s, not %s" % (program.arch, expected_arch)))
    for name, check in KINDS[kind][1].items():
        value = "-" if name in NOT_OFFERED.get(program.arch, ()) else check(program)
        value, why = value if isinstance(value, tuple) else (value, None)
        value = value if isinstance(value, str) else "yes" if value else "no"  # a truth
        needed = (name not in REPORTED_ONLY or row in REPORTED_ONLY[name][1]) and (
            name in LIBRARY_REQUIRED or kind != "ELF" or not program.shared)
        if value.startswith("no") and needed:
            value = "NO" + value[2:]
            failures.append((name, "%s: %s" % (name, why) if why else "lacks " + name))
        elif value == "?" and needed:
            failures.append((name, "leaves no trace of %s to check" % name))
        values[name] = value
    return kind, program.arch, values, failures


def print_table(programs):
    """Checks the programs, a table for each kind; True when one fails."""
    failed, rows = False, []
    for row, path, arch, target, units in programs:
        try:
            rows.append((row, *check_program(row, path, arch, target, units)))
        except Unreadable as error:
            print("FAIL %s cannot be checked: %s" % (row, error))
            failed = True
    kinds = [k for k in KINDS if any(r[1] == k for r in rows)]
    for kind in kinds:
        columns, mine = KINDS[kind][1], [r for r in rows if r[1] == kind]
        width = max(len(r[0]) for r in mine)
        print("%-*s %-7s %s" % (width, kind, "arch", "  ".join(columns)))
        for row, _, arch, values, failures in mine:
            cells = "  ".join("%-*s" % (len(c), values[c]) for c in columns)
            print(("%-*s %-7s %s" % (width, row, arch, cells)).rstrip())
            print("".join("FAIL %s %s\n" % (row, failure) for _, failure in failures), end="")
            failed = failed or bool(failures)
    print("yes/NO: required and found/missing; no: reported, not required; -: not offered"
          " or not applicable; ?: no trace to check (reported-only properties)")
    for name, (why, only) in REPORTED_ONLY.items():
        if any(name in KINDS[kind][1] for kind in kinds):
            print("  %s: %s%s" % (name, why, " (" + ", ".join(sorted(only)) + ")" if only else ""))
    for kind in kinds:
        print("  %s: %s, read in the objects and archives of ours that its link used (CMake's "
              "link.txt)" % (kind, KINDS[kind][2]))
    print("  SSP there: a call of __stack_chk_fail in each archive and in the binary's own "
          "objects%s" % ("; OBJ_CET/BTI: every object marked" if "ELF" in kinds else ""))
    if any(r[1] == "ELF" and r[0].startswith("libhwid ") for r in rows):
        print("  libhwid's ELF rows (shared libraries): only %s required" % ", ".join(
            sorted(LIBRARY_REQUIRED)))
    return failed


UNPROTECTED_C = (b"#include <stdio.h>\n#include <string.h>\nint main(int argc, char **argv) {"
                 b' char copy[64]; strcpy(copy, argc > 1 ? argv[1] : ""); puts(copy); }\n')
UNPROTECTED_FLAGS = ["-O2", "-U_FORTIFY_SOURCE", "-fno-stack-protector", "-fcf-protection=none",
                     "-fno-pie", "-no-pie"]
# What the checks must find lacking in it, as a dynamic program and as a
# static one (not static-pie), whose SSP and FORTIFY are read in its object.
EXPECTED_LACKS = {"dynamic": {"PIE", "RELRO", "BIND_NOW", "NX", "SSP", "FORTIFY", "OBJ_CET/BTI"},
                  "static": {"PIE", "BIND_NOW", "SSP", "FORTIFY", "OBJ_CET/BTI"}}
# The Windows one lacks every property of the PE table. It calls into MinGW's libssp-0.dll
# (__chk_fail: neither the stack protector's call nor a fortified one), an import on no
# list. MinGW-w64's linker (binutils 2.40) marks a program for a random base, high-entropy
# addresses on 64-bit and NX, with the relocations that need, unless told not to.
UNPROTECTED_PE_C = UNPROTECTED_C.replace(b"int main", b"void __chk_fail(void);\nint main").replace(
    b" }\n", b" if (argc > 9) __chk_fail(); }\n")
UNPROTECTED_PE_LINK = {
    "x86_64": "-Wl,--disable-dynamicbase,--disable-high-entropy-va,--disable-nxcompat,"
              "--disable-reloc-section",
    "i686": "-Wl,--disable-dynamicbase,--disable-nxcompat,--disable-reloc-section"}


def unprotected_programs(work, kinds):
    """Builds the unprotected programs of the kinds (ELF, PE): [(name, program, object,
    the columns that must fail it, the reported-only ones that must read "no")]."""
    built, programs = [], []
    if "ELF" in kinds:
        obj, dynamic, static = (os.path.join(work, "unprotected" + end) for end in (".o", "", "-static"))
        built += [(["gcc", *UNPROTECTED_FLAGS, *options], UNPROTECTED_C) for options in (
            ["-c", "-o", obj, "-x", "c", "-"], ["-static", "-o", static, obj],
            ["-Wl,-z,norelro,-z,lazy,-z,execstack", "-o", dynamic, obj])]
        programs += [(kind, path, obj, EXPECTED_LACKS[kind], set())
                     for kind, path in (("dynamic", dynamic), ("static", static))]
    if "PE" in kinds:
        for arch, link in UNPROTECTED_PE_LINK.items():
            obj, exe = (os.path.join(work, "unprotected-%s.%s" % (arch, end)) for end in ("o", "exe"))
            compiler = arch + "-w64-mingw32-gcc"
            built += [([compiler, "-O2", "-U_FORTIFY_SOURCE", "-fno-stack-protector", "-c", "-o",
                        obj, "-x", "c", "-"], UNPROTECTED_PE_C),
                      ([compiler, "-s", "-o", exe, obj, link, "-lssp"], None)]
            # Every column; 32-bit Windows offers no HIGH_ENTROPY_VA (NOT_OFFERED).
            offered = set(PE_CHECKS) - NOT_OFFERED.get(arch, set())
            programs.append(("PE " + arch, exe, obj, offered - set(REPORTED_ONLY),
                             offered & set(REPORTED_ONLY)))
    for command, source in built:
        subprocess.run(command, input=source, check=True, capture_output=True)
    return programs


def self_check(work, kinds):
    """The checks, run on programs of the kinds built here without protections, must find
    them lacking what they lack; False (and why) when they do not."""
    try:
        programs = unprotected_programs(work, kinds)
        results = [(name, must_fail, must_read_no, check_program(
            "self-check " + name, path, None, "hwidwin" if name.startswith("PE") else "hwidtool",
            [(os.path.basename(obj), [obj])])) for name, path, obj, must_fail, must_read_no in programs]
    except (Unreadable, OSError, subprocess.CalledProcessError) as error:
        print("FAIL self-check: an unprotected program could not be built or read: %s%s" % (
            error, "" if not isinstance(error, subprocess.CalledProcessError) else
            ": " + error.stderr.decode(errors="replace").strip()[-300:]))
        return False
    ok = True
    for name, must_fail, must_read_no, (_, arch, values, failures) in results:
        failed = {column for column, _ in failures}
        passed = sorted(must_fail - failed) + sorted(c for c in must_read_no if values[c] != "no")
        if passed:
            ok = False
            print("FAIL self-check: the checks pass a %s program built without %s (%s)" % (
                name, ", ".join(passed), " ".join("%s=%s" % i for i in values.items())))
        elif name != "static":  # the dynamic one's list holds the static one's
            print("self-check: a %sprogram built without protections fails %s%s" % (
                "" if name == "dynamic" else name + " ", ", ".join(c for c in values if c in must_fail),
                "".join("; %s (reported only) reads no" % c for c in sorted(must_read_no)) + "".join(
                    "; %s not offered" % c for c in values if values[c] == "-" and name != "dynamic")))
    return ok


# The interface as hwid.h gives it: the exported functions and the types they
# reach, without the build's paths. The same command writes the baseline.
ABI_BASELINE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "libhwid", "hwid.abi")
ABIDW = ["abidw", "--exported-interfaces-only", "--drop-private-types", "--no-corpus-path",
         "--no-comp-dir-path", "--short-locs", "--headers-dir"]
# abidiff's status is a set of bits: 1 an error, 2 a usage error, 4 a change, 8 a removal.
# It leaves a changed type to the reader (4 alone); here only added functions are compatible.
ABIDIFF_BROKEN = 1 | 2 | 8


def check_abi(library, work):
    """True when the library's interface is the baseline's or a compatible extension."""
    headers = os.path.dirname(ABI_BASELINE)
    current = os.path.join(work, "hwid.abi")
    with open(current, "w") as out:
        dumped = subprocess.run(ABIDW + [headers, library], stdout=out, stderr=subprocess.PIPE,
                                text=True)
    if dumped.returncode != 0 or "hwid_list_new" not in open(current).read():
        print("FAIL abi: abidw %s: %s" % (library, dumped.stderr.strip() or "no hwid_list_new"))
        return False
    diff = subprocess.run(["abidiff", ABI_BASELINE, current], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    if diff.returncode & ABIDIFF_BROKEN or re.search(r"\b[1-9]\d* (Removed|Changed)\b", diff.stdout):
        print("%sFAIL abi: %s is incompatible with libhwid/hwid.abi (abidiff status %d)" % (
            diff.stdout, library, diff.returncode))
        return False
    if diff.returncode:
        print("%sabi: a compatible extension of libhwid/hwid.abi; with the interface's minor "
              "version raised, write the new baseline with: %s libhwid %s >libhwid/hwid.abi" % (
                  diff.stdout, " ".join(ABIDW), library))
    else:
        print("abi: libhwid's interface is libhwid/hwid.abi's (abidiff: no change)")
    return True


def main():
    parser = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1])
    parser.add_argument("--contents-only", action="store_true")
    parser.add_argument("--objects", action="append", default=[])
    parser.add_argument("--abi")
    parser.add_argument("--hwidwin-32")
    parser.add_argument("--hwidwin-64")
    parser.add_argument("--libhwid-32")
    parser.add_argument("--libhwid-64")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    args.objects = dict(o.split("=", 1) for o in args.objects)
    with tempfile.TemporaryDirectory() as work:
        shipped = Shipped(args, work)
        for path in args.files:  # One that cannot be read hides none after it.
            try:
                shipped.add(path)
            except Exception as error:  # whatever a broken or missing file raises, it is unread
                shipped.expect(False, "cannot be read: %s" % error if isinstance(error, Unreadable)
                               else "%s cannot be read: %s: %s" % (path, type(error).__name__, error))
        shipped.rpm_programs_are_portable()
        shipped.debs_agree()
        failed = bool(shipped.problems)
        if args.abi:
            failed = not check_abi(args.abi, work) or failed
        if not args.contents_only and shipped.programs:
            kinds = {"ELF" if is_elf(path) else "PE" for _, path, _, _, _ in shipped.programs}
            failed = not self_check(work, kinds) or failed
            failed = print_table(shipped.programs) or failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
