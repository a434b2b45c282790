#!/usr/bin/python3
"""Checks the files a release ships, and how their programs are hardened.

Usage: check-shipped.py [--contents-only] [--objects ARCH=DIR]...
                        [--hwidwin-32 EXE] [--hwidwin-64 EXE] FILE...

FILE is a Debian package, an RPM package (hwidtool-*.ARCH.rpm), a portable
archive (hwidtool-*-linux-ARCH.tar.gz), the Windows archive
(hwidwin-*-windows.zip), or a program (ELF or PE) as built. An RPM's program
must be its architecture's portable program byte for byte, when that
archive is checked too. The members of packages and archives are checked (architecture,
dependencies, file lists, texts); the programs inside them are then checked
one small named check per property, and shown as one table with a row per
program. binutils and devscripts' hardening-check read the files.

--objects ARCH=DIR: the build folder of the portable program for ARCH
(x86_64, aarch64, armhf), or of hwidwin for win32 or win64. A stripped
static program keeps no trace of the stack protector or of fortified calls;
they are checked in the objects of its build instead (for ELF, hardening-
check on every object there; for PE, the symbols the objects call): one
that calls __stack_chk_fail, one that calls a __*_chk function, as
hardening-check requires of a whole dynamic program.
--hwidwin-32/--hwidwin-64: the builds the Windows archive must hold.
--contents-only: the packages' and archives' contents, not the programs.

What cannot be read is a failure, never a pass: a tool that fails or says
nothing (readelf, objdump, hardening-check), or an objects folder without
objects. Before the programs, the checks are run on a small program built
here without any protection, and must find it lacking: a check that passes
it is broken.

Exit status 1 when a content check fails, a program lacks a property that
its platform offers, or something could not be read.
"""
import argparse
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
ELF_MACHINE = {"X86-64": "x86_64", "AArch64": "aarch64", "ARM": "armhf"}

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
    """A tool failed, or said nothing, where the check needs its words."""


def run(*command):
    try:
        result = subprocess.run(command, capture_output=True, text=True)
    except OSError as error:
        raise Unreadable("%s: %s" % (command[0], error))
    if result.returncode != 0 or not result.stdout:
        raise Unreadable("%s gave status %d: %s" % (" ".join(command), result.returncode,
                                                    result.stderr.strip()[-300:] or "no output"))
    return result.stdout


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def yes(condition):
    return "yes" if condition else "no"


# ------------------------------------------------------------------ ELF --

class Elf:
    def __init__(self, path, objects):
        self.path = path
        self.header = run("readelf", "-hW", path)
        self.programs = run("readelf", "-lW", path)
        self.sections = run("readelf", "-SW", path)
        # Both may be empty: a static program without notes or dynamic section.
        self.dynamic = readelf_maybe_empty("-dW", path)
        self.notes = readelf_maybe_empty("-nW", path)
        self.arch = elf_arch(self.header)
        self.static = not re.search(r"^\s+INTERP\b", self.programs, re.M) and \
            "(NEEDED)" not in self.dynamic
        # hardening-check reads a static-pie program as a shared library:
        # the static program's properties come from readelf, and those that
        # leave no trace in it from its build's objects.
        if self.static:
            self.report = hardening_check(objects) if objects else {}
        else:
            self.report = hardening_check([path])

    def segment(self, name):
        return re.search(r"^\s+%s\s.*\s(R?W?E?)\s+0x[0-9a-f]+$" % name, self.programs, re.M)


def readelf_maybe_empty(option, path):
    result = subprocess.run(["readelf", option, path], capture_output=True, text=True)
    if result.returncode != 0 or result.stderr:
        raise Unreadable("readelf %s %s gave status %d: %s" % (
            option, path, result.returncode, result.stderr.strip()[-300:]))
    return result.stdout


def elf_arch(header):
    machine = re.search(r"Machine:\s+(?:.* )?(\S+)$", header, re.M)
    return ELF_MACHINE.get(machine.group(1) if machine else "", "?")


HARDENING_CHECK_LINES = ("Stack protected", "Fortify Source functions", "Stack clash protection")


def hardening_check(files):
    """Each hardening-check line ("Stack protected: yes") for the files, by
    property: the values of every file. It exits 1 when a file lacks a
    property, so its status alone says nothing: every file must have its
    report, with every line the table reads."""
    try:
        result = subprocess.run(["hardening-check", "--verbose", *files],
                                capture_output=True, text=True)
    except OSError as error:
        raise Unreadable("hardening-check: %s" % error)
    reports = re.split(r"^(\S.*):$", result.stdout, flags=re.M)
    by_file = dict(zip(reports[1::2], reports[2::2]))
    report = {}
    for path in files:
        lines = dict(re.findall(r"^ (\S[^:]*): (.*)$", by_file.get(path, ""), re.M))
        missing = [name for name in HARDENING_CHECK_LINES if name not in lines]
        if result.returncode not in (0, 1) or missing:
            raise Unreadable("hardening-check gave status %d and no %s for %s: %s" % (
                result.returncode, ", ".join(missing) or "usable report", path,
                result.stderr.strip()[-300:] or "nothing on standard error"))
        for name, value in lines.items():
            report.setdefault(name, []).append(value)
    return report


def from_report(elf, name):
    """As hardening-check sums up one program: yes when one file has it."""
    values = elf.report.get(name)
    if not values:
        return "?"
    if any(v.startswith("yes") for v in values):
        return "yes"
    return "?" if all(v.startswith("unknown") for v in values) else "no"


def elf_pie(elf):
    if elf.static:
        return yes(re.search(r"Type:\s+DYN\b", elf.header) and
                   re.search(r"\(FLAGS_1\).*\bPIE\b", elf.dynamic))
    return from_report(elf, "Position Independent Executable")


def elf_bind_now(elf):
    return yes(re.search(r"\((BIND_NOW|FLAGS)\).*BIND_NOW|\(FLAGS_1\).*\bNOW\b", elf.dynamic))


def elf_nx_stack(elf):
    stack = elf.segment("GNU_STACK")
    return yes(stack and "E" not in stack.group(1))


def elf_cet(elf):
    wanted = {"x86_64": r"x86 feature: IBT, SHSTK", "aarch64": r"AArch64 feature: BTI, PAC"}
    return yes(re.search(wanted.get(elf.arch, "^$"), elf.notes))


ELF_CHECKS = {
    "PIE": elf_pie,
    "RELRO": lambda elf: yes(elf.segment("GNU_RELRO")),
    "BIND_NOW": elf_bind_now,
    "NX": elf_nx_stack,
    "SSP": lambda elf: from_report(elf, "Stack protected"),
    "FORTIFY": lambda elf: from_report(elf, "Fortify Source functions"),
    "CLASH": lambda elf: from_report(elf, "Stack clash protection"),
    "CET/BTI": elf_cet,
    "STRIPPED": lambda elf: yes(elf.sections and ".symtab" not in elf.sections),
    "STATIC": lambda elf: yes(elf.static),
}

# ------------------------------------------------------------------- PE --

class Pe:
    def __init__(self, path, objects=None):
        self.path = path
        self.objects = objects or []
        self.arch = "?"
        errors = []
        for triple in ("x86_64-w64-mingw32", "i686-w64-mingw32"):
            try:
                self.headers = run(triple + "-objdump", "-p", path)
            except Unreadable as error:
                errors.append(str(error))
                continue
            if "file format pei-" in self.headers:
                self.arch = "x86_64" if "pei-x86-64" in self.headers else "i686"
                self.sections = run(triple + "-objdump", "-h", path)
                self.triple = triple
                break
        else:
            raise Unreadable("no objdump reads %s as a PE program: %s" % (path, "; ".join(errors)))
        self.imports = {d.lower() for d in re.findall(r"DLL Name: (\S+)", self.headers)}

    def characteristic(self, name):
        return yes(re.search(r"^DllCharacteristics\s[\s\S]*?^\s+%s$" % name,
                             self.headers, re.M))


def pe_objects_call(pe, pattern):
    """yes when an object of the program's build calls a function whose
    name matches (i686 names carry a leading underscore); "?" without
    objects: a static MinGW program keeps no trace of its callers."""
    if not pe.objects:
        return "?"
    undefined = run(pe.triple + "-nm", "-u", *pe.objects)
    return yes(re.search(r"^\s+U _?%s$" % pattern, undefined, re.M))


def pe_imports(pe):
    return yes(pe.imports and pe.imports <= ALLOWED_DLLS)


PE_CHECKS = {
    "DYNAMIC_BASE": lambda pe: pe.characteristic("DYNAMIC_BASE"),
    "HIGH_ENTROPY_VA": lambda pe: pe.characteristic("HIGH_ENTROPY_VA"),
    "NX_COMPAT": lambda pe: pe.characteristic("NX_COMPAT"),
    ".reloc": lambda pe: yes(re.search(r"^\s+\d+ \.reloc\s", pe.sections or "", re.M)),
    "IMPORTS": pe_imports,
    "NO_LIBSSP": lambda pe: yes(pe.imports and "libssp-0.dll" not in pe.imports),
    "SSP": lambda pe: pe_objects_call(pe, r"__stack_chk_fail"),
    "FORTIFIED": lambda pe: pe_objects_call(pe, r"__\w+_chk"),
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
        listing = {}
        for line in run("rpm", "-qlvp", path).splitlines():
            fields = line.split()
            if not fields[0].startswith("d"):
                listing[fields[-1]] = fields[0]
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
        if path.endswith(".deb"):
            self.deb(path)
        elif path.endswith(".rpm"):
            self.rpm(path)
        elif path.endswith(".tar.gz"):
            self.tarball(path)
        elif path.endswith(".zip"):
            self.zip(path)
        else:
            if is_elf(path):
                arch = elf_arch(run("readelf", "-hW", path))
            else:
                arch = PE_OBJECTS.get(Pe(path).arch)
            if arch and self.args.objects and arch not in self.args.objects:
                self.problem("%s is for %s: no objects given for it" % (path, arch))
            self.programs.append((path, path, None, self.objects(arch)))


# ---------------------------------------------------------------- table --

def check_program(row, path, expected_arch, objects):
    """The row's values (name -> text) and its failures."""
    elf = is_elf(path)
    program = Elf(path, objects) if elf else Pe(path, objects)
    checks = ELF_CHECKS if elf else PE_CHECKS
    if elf and not program.static:
        checks = {k: v for k, v in checks.items() if k != "STATIC"}
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
    if any(r[1] == "ELF" for r in rows):
        print("  static ELF programs: SSP, FORTIFY, CLASH read from their build's objects")
    if any(r[1] == "PE" for r in rows):
        print("  PE programs: SSP, FORTIFIED read from their build's objects")
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
# static one read through its object.
EXPECTED_LACKS = {
    "dynamic": {"PIE", "RELRO", "BIND_NOW", "NX", "SSP", "FORTIFY"},
    "static": {"SSP", "FORTIFY"},
}


def self_check(work):
    """The checks, run on a program built here without protections, must
    find it lacking what it lacks; False (and why) when they do not."""
    folder = os.path.join(work, "self-check")
    os.makedirs(folder)
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
        compile_object = ["gcc", *UNPROTECTED_FLAGS, "-c", "-o", obj, source]
        for command in [compile_object, *builds.values()]:
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
        try:
            for path in args.files:
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
