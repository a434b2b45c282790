#!/usr/bin/python3
"""Checks the files a release ships, and how their programs are hardened.

Usage: check-shipped.py [--contents-only] [--objects ARCH=DIR]...
                        [--hwidwin-32 EXE] [--hwidwin-64 EXE] FILE...

FILE is a Debian package, an RPM package (hwidtool-*.ARCH.rpm), a portable
archive (hwidtool-*-linux-ARCH.tar.gz), the Windows archive
(hwidwin-*-windows.zip), or a program (ELF or PE) as built. The members of
packages and archives are checked (architecture, dependencies, file lists,
texts; an RPM's program must be its architecture's portable program byte for
byte, when that archive is checked too); the programs in them one small named
check per property, shown as a table with a row per program. pyelftools and
pefile read them; devscripts' hardening-check, Debian's own, judges the
Debian packages' programs.

--objects ARCH=DIR: the build folder of the portable program for ARCH
(x86_64, aarch64, armhf), or of hwidwin for win32 or win64. A stripped
static program keeps no trace of the stack protector or of fortified calls:
its build's objects must call __stack_chk_fail and a __*_chk function, as
hardening-check requires of a whole dynamic program.
--hwidwin-32/--hwidwin-64: the builds the Windows archive must hold.
--contents-only: the packages' and archives' contents, not the programs.

What cannot be read is a failure, never a pass: a file pyelftools or pefile
cannot parse, a tool that fails or says nothing, an objects folder without
objects. The checks are first run on a program built here without any
protection, and must find it lacking: a check that passes it is broken.

Exit status 1 when a content check fails, a program lacks a property that
its platform offers, or something could not be read.
"""
import argparse
import contextlib
import fnmatch
import glob
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

DEB_FILES = ["./usr/bin/hwidtool", "./usr/share/doc/hwidtool/README.md",
             "./usr/share/doc/hwidtool/changelog.Debian.gz",
             "./usr/share/doc/hwidtool/copyright", "./usr/share/man/man1/hwidtool.1.gz"]
DEB_DEPENDS = ["libpystring0 (>= ", "libc6 (>= ", "libstdc++6 (>= "]
RPM_FILES = {  # path: mode
    "/usr/bin/hwidtool": "-rwxr-xr-x",
    "/usr/share/doc/hwidtool/README.md": "-rw-r--r--",
    "/usr/share/licenses/hwidtool/LICENSE": "-rw-r--r--",
    "/usr/share/licenses/hwidtool/LICENSE.pystring": "-rw-r--r--",
    "/usr/share/man/man1/hwidtool.1.gz": "-rw-r--r--",
}
TARBALL_FILES = ["LICENSE", "LICENSE.pystring", "README.md", "hwidtool", "hwidtool.1"]
ZIP_FILES = ["32-bit/hwidwin.exe", "64-bit/hwidwin.exe", "LICENSE.txt", "README.txt",
             "THIRD-PARTY-NOTICES.txt"]
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "msvcrt.dll"}
DEBIAN_ARCH = {"amd64": "x86_64", "arm64": "aarch64", "armhf": "armhf"}

# Properties a platform cannot have: shown as "-", never required. Debian
# 12's C library for armhf has no rcrt1.o, so the portable armhf program is
# static but not static-pie; without a dynamic section there is nothing to
# bind late; 32-bit arm has no branch-protection marking. A 32-bit Windows
# program has no 64-bit address space to spread over.
NOT_OFFERED = {
    "armhf": {"PIE", "BIND_NOW", "CET/BTI"},
    "i686": {"HIGH_ENTROPY_VA"},
}

# Shown but not required, and why; required only in the rows named.
REPORTED_ONLY = {
    # The linker marks a program IBT/SHSTK (x86_64) or BTI/PAC (aarch64)
    # only when every object it links is marked. Ours are; Debian 12's C
    # library is not (its crt objects and libc.a; on arm64 libstdc++ and
    # libgcc neither), nor are Debian 13's crt objects for amd64. Debian 13
    # marks all of arm64.
    "CET/BTI": ("marked only when every linked object is; required where all are",
                {"deb13 arm64"}),
    # hardening-check finds the probes only in functions with large or
    # variable frames, and disassembles x86 only: "?" says nothing.
    "CLASH": ("reported: probes show only in functions with large or variable frames",
              set()),
    # MinGW's headers fortify only the calls whose buffer sizes the
    # compiler knows; hwidwin's C++ makes none, so there is nothing to see.
    "FORTIFIED": ("reported: MinGW fortifies only calls of known buffer size; hwidwin has none",
                  set()),
}


def required(name, row):
    return name not in REPORTED_ONLY or row in REPORTED_ONLY[name][1]


class Unreadable(Exception):
    """A file or a tool's words that a check needs could not be read."""


def run(*command, ok=(0,)):
    try:
        result = subprocess.run(command, capture_output=True, text=True)
    except OSError as error:
        raise Unreadable("%s: %s" % (command[0], error))
    if result.returncode not in ok or not result.stdout:
        raise Unreadable("%s gave status %d: %s" % (" ".join(command), result.returncode,
                                                    result.stderr.strip()[-300:] or "no output"))
    return result.stdout


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def yes(condition):
    return "yes" if condition else "no"


@contextlib.contextmanager
def parsed_by(library, path):
    """The file, open for the library to parse (imported there: checking
    contents alone runs without it). A library may raise anything on a
    malformed file; whatever it raises, the file was not read."""
    try:
        with open(path, "rb") as f:
            yield f
    except Exception as error:
        raise Unreadable("%s cannot read %s: %s: %s" % (
            library, path, type(error).__name__, error)) from error


def calls(objects):
    """The functions the objects of a build call: their undefined symbols.
    pefile reads linked programs only; MinGW's COFF objects are nm's."""
    coff = [o for o in objects if not is_elf(o)]
    names = set().union(*(Elf(o).undefined for o in objects if o not in coff))
    nm = run("x86_64-w64-mingw32-nm", "-u", *coff) if coff else ""
    return names | set(re.findall(r"^\s+U (\S+)$", nm, re.M))


def objects_call(pattern):
    """yes when an object of the program's build calls a function whose name
    matches (i686 names carry a leading underscore); "?" without objects."""
    return lambda program: "?" if program.calls is None else yes(
        any(re.fullmatch("_?" + pattern, name) for name in program.calls))


STACK_PROTECTED = objects_call(r"__stack_chk_fail(_local)?")  # what -fstack-protector calls
FORTIFIED = objects_call(r"__\w+_chk")  # what fortified C library calls become

# ------------------------------------------------------------------ ELF --

ELF_MACHINE = {"EM_X86_64": "x86_64", "EM_AARCH64": "aarch64", "EM_ARM": "armhf"}
DF_BIND_NOW, DF_1_NOW, DF_1_PIE, PF_X = 0x8, 0x1, 0x08000000, 0x1
# The GNU property marking control-flow protection, whose two low bits are
# IBT and SHSTK, or BTI and PAC (pyelftools 0.29 has no name for AArch64's).
CF_PROTECTION = {"x86_64": "GNU_PROPERTY_X86_FEATURE_1_AND", "aarch64": 0xc0000000}


class Elf:
    """What the checks read of an ELF file, all of it read here, so that a
    file pyelftools cannot parse fails before any check runs. Exports,
    SONAME and C library version are for a shared library's checks."""

    def __init__(self, path):
        with parsed_by("pyelftools", path) as f:
            from elftools.elf.elffile import ELFFile
            elf = ELFFile(f)
            self.type, self.arch = elf["e_type"], ELF_MACHINE.get(elf["e_machine"], "?")
            segments = list(elf.iter_segments())
            # As the loader reads them: the first segment of each type.
            self.segments = {s["p_type"]: s["p_flags"] for s in reversed(segments)}
            tags = [t for s in segments if s["p_type"] == "PT_DYNAMIC" for t in s.iter_tags()]
            self.dynamic = {}
            for tag in tags:
                self.dynamic.setdefault(tag.entry.d_tag, []).append(tag.entry.d_val)
            self.soname = next((t.soname for t in tags if t.entry.d_tag == "DT_SONAME"), None)
            # pyelftools leaves the data of properties it has no name for as bytes.
            self.properties = {p.pr_type: p.pr_data if isinstance(p.pr_data, int) else
                               int.from_bytes(p.pr_data, "little" if elf.little_endian else "big")
                               for s in segments if s["p_type"] == "PT_NOTE" for n in s.iter_notes()
                               if n["n_type"] == "NT_GNU_PROPERTY_TYPE_0" for p in n["n_desc"]}
            sections = list(elf.iter_sections())
            self.symtab = any(s["sh_type"] == "SHT_SYMTAB" for s in sections)
            symbols = [(s["sh_type"], sym) for s in sections if s["sh_type"] in (
                "SHT_SYMTAB", "SHT_DYNSYM") for sym in s.iter_symbols() if sym.name]
            self.undefined = {sym.name for _, sym in symbols if sym["st_shndx"] == "SHN_UNDEF"}
            self.exports = {sym.name for kind, sym in symbols if kind == "SHT_DYNSYM" and
                            sym["st_shndx"] != "SHN_UNDEF" and sym["st_info"]["bind"] !=
                            "STB_LOCAL" and sym["st_other"]["visibility"] != "STV_HIDDEN"}
            versions_needed = {a.name for s in sections if s["sh_type"] == "SHT_GNU_verneed"
                               for _, auxes in s.iter_versions() for a in auxes}
        self.static = "PT_INTERP" not in self.segments and "DT_NEEDED" not in self.dynamic
        # The newest C library version needed, as (x, y): the oldest it runs on.
        self.glibc = max((tuple(int(n) for n in v[len("GLIBC_"):].split("."))
                          for v in versions_needed if re.fullmatch(r"GLIBC_\d+(\.\d+)+", v)),
                         default=None)

    def flag(self, tag, bit):
        return any(value & bit for value in self.dynamic.get(tag, []))


HARDENING_CHECK_LINES = ("Stack protected", "Fortify Source functions", "Stack clash protection")


def hardening_check(files):
    """hardening-check's verdict by property ("Stack protected": yes, no, ?),
    yes when one of the files has it. Its status says little (1 when a file
    lacks one): every file must have its report, with every line read here."""
    if not files:
        return {}
    reports = re.split(r"^(\S.*):$", run("hardening-check", "--verbose", *files, ok=(0, 1)),
                       flags=re.M)
    by_file = dict(zip(reports[1::2], reports[2::2]))
    values = {}
    for path in files:
        lines = dict(re.findall(r"^ (\S[^:]*): (.*)$", by_file.get(path, ""), re.M))
        missing = [name for name in HARDENING_CHECK_LINES if name not in lines]
        if missing:
            raise Unreadable("hardening-check gave no %s for %s" % (", ".join(missing), path))
        for name, value in lines.items():
            values.setdefault(name, []).append(value)
    return {name: "yes" if any(v.startswith("yes") for v in found) else
            "?" if all(v.startswith("unknown") for v in found) else "no"
            for name, found in values.items()}


def by_report(line, static_check=None):
    """A dynamic program as Debian's hardening-check judges it; a static one
    (it takes static-pie for a shared library) by static_check, else as it
    judges the build's objects."""
    return lambda elf: static_check(elf) if elf.static and static_check else \
        elf.report.get(line, "?")


ELF_CHECKS = {
    "PIE": by_report("Position Independent Executable", lambda elf: yes(
        elf.type == "ET_DYN" and elf.flag("DT_FLAGS_1", DF_1_PIE))),
    "RELRO": lambda elf: yes("PT_GNU_RELRO" in elf.segments),
    "BIND_NOW": lambda elf: yes("DT_BIND_NOW" in elf.dynamic or elf.flag("DT_FLAGS", DF_BIND_NOW)
                                or elf.flag("DT_FLAGS_1", DF_1_NOW)),
    # Without a GNU_STACK segment the stack is executable.
    "NX": lambda elf: yes(not elf.segments.get("PT_GNU_STACK", PF_X) & PF_X),
    "SSP": by_report("Stack protected", STACK_PROTECTED),
    "FORTIFY": by_report("Fortify Source functions", FORTIFIED),
    "CLASH": by_report("Stack clash protection"),
    "CET/BTI": lambda elf: yes(elf.properties.get(CF_PROTECTION.get(elf.arch), 0) & 0x3 == 0x3),
    "STRIPPED": lambda elf: yes(not elf.symtab),
    "STATIC": lambda elf: "yes" if elf.static else "-",
}

# ------------------------------------------------------------------- PE --

PE_MACHINE = {0x8664: "x86_64", 0x14c: "i686"}


class Pe:
    """What the checks read of a PE program, all of it read here, as for Elf."""

    def __init__(self, path):
        with parsed_by("pefile", path) as f:
            import pefile
            pe = pefile.PE(data=f.read(), fast_load=True)
            pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + t]
                                       for t in ("IMPORT", "DELAY_IMPORT", "EXPORT")])
            # pefile passes over what it cannot make sense of, with a warning.
            if pe.get_warnings():
                raise ValueError("; ".join(pe.get_warnings()))
            self.arch = PE_MACHINE.get(pe.FILE_HEADER.Machine, "?")
            self.characteristics = {name.replace("IMAGE_DLLCHARACTERISTICS_", "")
                                    for name, bit in pefile.dll_characteristics
                                    if pe.OPTIONAL_HEADER.DllCharacteristics & bit}
            self.sections = {s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections}
            # A DLL loaded late is loaded all the same.
            self.imports = {i.dll.decode("latin-1").lower() for i in
                            getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) +
                            getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
            exports = getattr(getattr(pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", [])
            self.exports = {s.name.decode("latin-1") for s in exports if s.name}


PE_CHECKS = {
    "DYNAMIC_BASE": lambda pe: yes("DYNAMIC_BASE" in pe.characteristics),
    "HIGH_ENTROPY_VA": lambda pe: yes("HIGH_ENTROPY_VA" in pe.characteristics),
    "NX_COMPAT": lambda pe: yes("NX_COMPAT" in pe.characteristics),
    ".reloc": lambda pe: yes(".reloc" in pe.sections),
    "IMPORTS": lambda pe: yes(pe.imports and pe.imports <= ALLOWED_DLLS),
    "NO_LIBSSP": lambda pe: yes(pe.imports and "libssp-0.dll" not in pe.imports),
    "SSP": STACK_PROTECTED,
    "FORTIFIED": FORTIFIED,
}
PE_OBJECTS = {"i686": "win32", "x86_64": "win64"}  # --objects names of the builds

# ----------------------------------------------------- packages, archives --

class Shipped:
    """Problems found in the files' contents, and the programs found in them."""

    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.problems = []
        self.programs = []  # (row name, path, expected arch or None, objects folder)
        self.portable = {}  # arch -> the program's bytes, from the tarballs
        self.rpm_programs = {}  # arch -> (package name, the program's bytes)

    def problem(self, text):
        self.problems.append(text)
        print("FAIL " + text)

    def objects(self, arch):
        folder = self.args.objects.get(arch)
        if not folder:
            return []
        # MinGW's objects end in .obj.
        found = sorted(o for o in glob.glob(os.path.join(folder, "**", "*.o*"), recursive=True)
                       if re.search(r"\.o(bj)?$", o) and
                       not fnmatch.fnmatch(os.path.relpath(o, folder), "CMakeFiles/[0-9]*"))
        if not found:
            self.problem("--objects %s=%s: no object files there to check" % (arch, folder))
        return found

    def deb(self, path):
        name = os.path.basename(path)
        arch = re.sub(r".*_|\.deb$", "", name)
        fields = {f: run("dpkg-deb", "-f", path, f).strip() for f in ("Architecture", "Depends")}
        print("%s: %s; Depends: %s" % (name, arch, fields["Depends"]))
        if fields["Architecture"] != arch:
            self.problem("%s: Architecture is %s" % (name, fields["Architecture"]))
        for lib in DEB_DEPENDS:
            if lib not in fields["Depends"]:
                self.problem("%s: Depends lacks %s" % (name, lib))
        files = sorted(line.split()[5] for line in run("dpkg-deb", "-c", path).splitlines()
                       if not line.startswith("d"))
        if files != DEB_FILES:
            self.problem("%s: files %s" % (name, " ".join(files)))
        folder = tempfile.mkdtemp(dir=self.work)
        subprocess.run(["dpkg-deb", "-x", path, folder], check=True)
        release = re.search(r"~(deb\d+)_", name)
        row = "%s %s" % (release.group(1) if release else name, arch)
        self.programs.append((row, os.path.join(folder, "usr/bin/hwidtool"),
                              DEBIAN_ARCH.get(arch), None))

    def rpm(self, path):
        name = os.path.basename(path)
        arch = re.sub(r".*\.(\w+)\.rpm$", r"\1", name)
        query = run("rpm", "-qp", "--qf", "%{ARCH} %{LICENSE} %{PAYLOADCOMPRESSOR}\\n", path).split()
        requires = run("rpm", "-qp", "--requires", path).split("\n")
        listing = {fields[-1]: fields[0] for fields in map(str.split, run(
            "rpm", "-qlvp", path).splitlines()) if not fields[0].startswith("d")}
        print("%s: %s, %s, %s payload; requires %s" % (
            name, query[0], query[1], query[2], ", ".join(r for r in requires if r)))
        if query != [arch, "MIT", "xz"]:
            self.problem("%s: arch, licence, payload are %s" % (name, " ".join(query)))
        if any(r and not r.startswith("rpmlib(") for r in requires):
            self.problem("%s: requires more than rpmlib features: %s" % (name, requires))
        if listing != RPM_FILES:
            self.problem("%s: files and modes %s" % (name, listing))
            return
        folder = tempfile.mkdtemp(dir=self.work)
        payload = subprocess.run(["rpm2cpio", path], capture_output=True, check=True).stdout
        subprocess.run(["cpio", "-idm", "--quiet", "./usr/bin/hwidtool"], input=payload,
                       cwd=folder, check=True)
        program = os.path.join(folder, "usr/bin/hwidtool")
        with open(program, "rb") as f:
            self.rpm_programs[arch] = (name, f.read())
        self.programs.append(("rpm " + arch, program, arch, self.objects(arch)))

    def rpm_programs_are_portable(self):
        for arch, (name, program) in self.rpm_programs.items():
            if arch not in self.portable:
                print("%s: no %s archive checked beside it to compare with" % (name, arch))
            elif program != self.portable[arch]:
                self.problem("%s: /usr/bin/hwidtool is not the %s archive's program" % (name, arch))
            else:
                print("%s: /usr/bin/hwidtool is the %s archive's program" % (name, arch))

    def tarball(self, path):
        name = os.path.basename(path)
        arch = re.sub(r".*-linux-|\.tar\.gz$", "", name)
        with tarfile.open(path) as tar:
            members = tar.getmembers()
            top = name[:-len(".tar.gz")]
            files = sorted(m.name[len(top) + 1:] for m in members if m.isfile())
            if files != TARBALL_FILES or any(not m.name.startswith(top) for m in members):
                self.problem("%s: files %s" % (name, " ".join(m.name for m in members)))
                return
            program = os.path.join(self.work, top + "-hwidtool")
            self.portable[arch] = tar.extractfile(top + "/hwidtool").read()
            with open(program, "wb") as f:
                f.write(self.portable[arch])
        print("%s: %d files" % (name, len(files)))
        self.programs.append(("linux-" + arch, program, arch, self.objects(arch)))

    def zip(self, path):
        name = os.path.basename(path)
        archive = zipfile.ZipFile(path)
        names = archive.namelist()
        top = names[0].split("/", 1)[0] + "/"
        files = sorted(n[len(top):] for n in names if not n.endswith("/"))
        if files != ZIP_FILES or any(not n.startswith(top) for n in names):
            self.problem("%s: files %s, want %s" % (name, files, ZIP_FILES))
            return
        builds = {"32-bit": self.args.hwidwin_32, "64-bit": self.args.hwidwin_64}
        for bits, build in builds.items():
            inside = archive.read(top + bits + "/hwidwin.exe")
            if build and inside != open(build, "rb").read():
                self.problem("%s: %s/hwidwin.exe is not %s" % (name, bits, build))
            exe = os.path.join(self.work, bits + "-hwidwin.exe")
            with open(exe, "wb") as f:
                f.write(inside)
            self.programs.append(("windows " + bits, exe, None,
                                  self.objects("win" + bits.split("-")[0])))
        self.zip_texts(name, archive, top)
        print("%s: %d files" % (name, len(files)))

    def zip_texts(self, name, archive, top):
        text = {t: archive.read(top + t) for t in ZIP_FILES if t.endswith(".txt")}
        for t, body in text.items():
            if b"\r\n" not in body or body.count(b"\n") != body.count(b"\r\n"):
                self.problem("%s: %s does not end its lines with CR LF" % (name, t))
        needed = {
            "THIRD-PARTY-NOTICES.txt": [b"pystring", b"Copyright: ",
                                        b"Redistribution and use in source and binary forms",
                                        b"Neither the name of the organization"],
            "LICENSE.txt": [b"MIT License"],
            "README.txt": [b"64-bit\\hwidwin.exe", b"32-bit\\hwidwin.exe", b"--generate"],
        }
        for t, words in needed.items():
            for word in words:
                if word not in text[t]:
                    self.problem("%s: %s lacks %r" % (name, t, word))

    def add(self, path):
        readers = {".deb": self.deb, ".rpm": self.rpm, ".tar.gz": self.tarball, ".zip": self.zip}
        for ending, read in readers.items():
            if path.endswith(ending):
                return read(path)
        arch = Elf(path).arch if is_elf(path) else PE_OBJECTS.get(Pe(path).arch)
        if arch and self.args.objects and arch not in self.args.objects:
            self.problem("%s is for %s: no objects given for it" % (path, arch))
        self.programs.append((path, path, None, self.objects(arch)))


# ---------------------------------------------------------------- table --

def check_program(row, path, expected_arch, objects):
    """The row's values (name -> text) and its failures."""
    elf = is_elf(path)
    program = Elf(path) if elf else Pe(path)
    program.calls = calls(objects) if objects else None
    if elf:  # A static program leaves hardening-check only its objects to read.
        program.report = hardening_check(objects or [] if program.static else [path])
    checks = ELF_CHECKS if elf else PE_CHECKS
    values, failures = {}, []
    if expected_arch and program.arch != expected_arch:
        failures.append("is for %s, not %s" % (program.arch, expected_arch))
    for name, check in checks.items():
        if name in NOT_OFFERED.get(program.arch, ()):
            values[name] = "-"
            continue
        value = check(program)
        if value.startswith("no") and required(name, row):
            value = "NO" + value[2:]
            failures.append("lacks " + name)
        elif value == "?" and required(name, row):
            failures.append("leaves no trace of %s to check" % name)
        values[name] = value
    if not elf and program.imports - ALLOWED_DLLS:
        failures.append("imports " + " ".join(sorted(program.imports - ALLOWED_DLLS)))
    return "ELF" if elf else "PE", program.arch, values, failures


def print_table(rows):
    failed = False
    for kind, columns in (("ELF", ELF_CHECKS), ("PE", PE_CHECKS)):
        mine = [r for r in rows if r[1] == kind]
        if not mine:
            continue
        width = max(len(r[0]) for r in mine)
        print("%-*s %-7s %s" % (width, kind, "arch", "  ".join(columns)))
        for row, _, arch, values, failures in mine:
            cells = "  ".join("%-*s" % (len(c), values.get(c, "-")) for c in columns)
            print(("%-*s %-7s %s" % (width, row, arch, cells)).rstrip())
            for failure in failures:
                print("FAIL %s %s" % (row, failure))
                failed = True
    print("yes/NO: required and found/missing; no: reported, not required; -: not offered"
          " or not applicable; ?: no trace to check (reported-only properties)")
    shown = set().union(*(ELF_CHECKS if r[1] == "ELF" else PE_CHECKS for r in rows))
    for name, (why, only) in REPORTED_ONLY.items():
        if name in shown:
            print("  %s: %s%s" % (name, why, " (" + ", ".join(sorted(only)) + ")" if only else ""))
    for kind, which in (("ELF", "static ELF programs: SSP, FORTIFY, CLASH"),
                        ("PE", "PE programs: SSP, FORTIFIED")):
        if any(r[1] == kind for r in rows):
            print("  %s read from their build's objects" % which)
    return failed


# ----------------------------------------------------------- self-check --

UNPROTECTED_C = b"""#include <stdio.h>
#include <string.h>
int main(int argc, char **argv) {
    char copy[64];
    strcpy(copy, argc > 1 ? argv[1] : "");
    puts(copy);
    return 0;
}
"""
UNPROTECTED_FLAGS = ["-O2", "-U_FORTIFY_SOURCE", "-fno-stack-protector", "-fno-pie"]
# What the checks must find lacking in it, as a dynamic program and as a
# static one (not static-pie), whose SSP and FORTIFY are read in its object.
EXPECTED_LACKS = {
    "dynamic": {"PIE", "RELRO", "BIND_NOW", "NX", "SSP", "FORTIFY"},
    "static": {"PIE", "BIND_NOW", "SSP", "FORTIFY"},
}


def self_check(work):
    """The checks, run on a program built here without protections, must
    find it lacking what it lacks; False (and why) when they do not."""
    folder = tempfile.mkdtemp(dir=work)
    source = os.path.join(folder, "unprotected.c")
    with open(source, "wb") as f:
        f.write(UNPROTECTED_C)
    obj = os.path.join(folder, "unprotected.o")
    builds = {
        "dynamic": ["gcc", *UNPROTECTED_FLAGS, "-no-pie", "-Wl,-z,norelro", "-Wl,-z,lazy",
                    "-Wl,-z,execstack", "-o", os.path.join(folder, "dynamic"), source],
        "static": ["gcc", "-static", "-no-pie", "-o", os.path.join(folder, "static"), obj],
    }
    try:
        for command in [["gcc", *UNPROTECTED_FLAGS, "-c", "-o", obj, source], *builds.values()]:
            subprocess.run(command, check=True, capture_output=True)
        results = {kind: check_program("self-check " + kind, os.path.join(folder, kind), None,
                                       [obj] if kind == "static" else None)
                   for kind in builds}
    except (Unreadable, subprocess.CalledProcessError) as error:
        print("FAIL self-check: the unprotected program could not be built or read: %s" % error)
        return False
    ok = True
    for kind, (_, _, values, failures) in results.items():
        found = {f[len("lacks "):] for f in failures if f.startswith("lacks ")}
        if not EXPECTED_LACKS[kind] <= found:
            print("FAIL self-check: the checks pass a %s program built without %s (%s)" % (
                kind, ", ".join(sorted(EXPECTED_LACKS[kind] - found)),
                " ".join("%s=%s" % item for item in values.items())))
            ok = False
    if ok:
        print("self-check: a program built without protections fails %s" % ", ".join(
            sorted(EXPECTED_LACKS["dynamic"])))
    return ok


def main():
    parser = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1])
    parser.add_argument("--contents-only", action="store_true")
    parser.add_argument("--objects", action="append", default=[])
    parser.add_argument("--hwidwin-32")
    parser.add_argument("--hwidwin-64")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    args.objects = dict(o.split("=", 1) for o in args.objects)
    with tempfile.TemporaryDirectory() as work:
        shipped = Shipped(args, work)
        for path in args.files:  # One that cannot be read hides none after it.
            try:
                shipped.add(path)
            except (Unreadable, subprocess.CalledProcessError) as error:
                shipped.problem("cannot be read: %s" % error)
        shipped.rpm_programs_are_portable()
        failed = bool(shipped.problems)
        if not args.contents_only and shipped.programs:
            if any(is_elf(path) for _, path, _, _ in shipped.programs):
                failed = not self_check(work) or failed
            rows = []
            for row, path, arch, objects in shipped.programs:
                try:
                    rows.append((row, *check_program(row, path, arch, objects)))
                except Unreadable as error:
                    print("FAIL %s cannot be checked: %s" % (row, error))
                    failed = True
            failed = print_table(rows) or failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
