"""The hardening table: each kind of binary (ELF, PE) has its columns, each a small check of
what a binary, or the objects its link used, shows; a row fails on any required column."""
import re

from shipped.binaries import Elf, Pe, Unreadable, is_elf, run

DF_BIND_NOW, DF_1_NOW, DF_1_PIE, PF_X = 0x8, 0x1, 0x08000000, 0x1
# The GNU property marking control-flow protection, whose two low bits are
# IBT and SHSTK, or BTI and PAC (pyelftools 0.29 has no name for AArch64's).
CF_PROTECTION = {"amd64": "GNU_PROPERTY_X86_FEATURE_1_AND", "arm64": 0xc0000000}

# The DLLs a Windows binary may import, by its CMake target, all of them Windows' own
# (KnownDLLs), which no planted copy replaces. The library loads into a vendor's program: it
# draws no window, so it needs no more than the C library and the kernel.
# The Node addon calls Node-API, which the node.exe that loads it exports.
IMPORTS = {"hwidwin": {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "msvcrt.dll"},
           "hwid": {"kernel32.dll", "msvcrt.dll"},
           "hwid_node": {"kernel32.dll", "msvcrt.dll", "node.exe"}}
# A shared library is not a program: what it must have of the programs' hardening.
LIBRARY_REQUIRED = {"RELRO", "BIND_NOW", "NX", "SSP", "STRIPPED", "OBJ_CET/BTI"}

# Properties a platform cannot have: shown as "-", never required. Debian 12 has no
# rcrt1.o for armhf: its static program is no static-pie, with nothing to bind late;
# 32-bit arm has no branch-protection marking, 32-bit Windows no 64-bit address space.
NOT_OFFERED = {"armhf": {"PIE", "BIND_NOW", "CET/BTI", "OBJ_CET/BTI"}, "win32": {"HIGH_ENTROPY_VA"}}
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
            functions = {re.sub(r"^_|@\d+$", "", f) if p.arch == "win32" else f
                         for o in objects for f in o.functions}
            if not functions <= UNGUARDED.get((p.target, unit), set()):
                lacking.append(unit)
    return ("no", "no call of __stack_chk_fail in " + ", ".join(lacking)) if lacking else True


def fortified(p):
    """Whether an object of the program's link calls what fortified C library calls become."""
    return "?" if p.units is None else any(calls(objects, r"__\w+_chk") for _, objects in p.units)


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
def imports_allowed(pe):
    """Whether the file imports only the DLLs its target may (MinGW's libssp-0.dll, say, is
    on no list: its start-up loads the cryptographic provider's DLLs by the search order)."""
    allowed = IMPORTS[pe.target]
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


def check_program(row, path, expected_arch, target, units):
    """The row's kind, architecture, values (name -> text) and failures ((column or None,
    text), one for each fault)."""
    kind = "ELF" if is_elf(path) else "PE"
    program = KINDS[kind][0](path)
    program.target, program.units = target, units
    if kind == "ELF":  # A static program leaves hardening-check only its objects to read.
        program.report = hardening_check(
            [o.path for _, objects in units or [] for o in objects] if program.static else [path])
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
