"""The hardening table's self-check: programs built here without protection, ELF and PE, must
fail every column they lack; a check that passes one is broken."""
import os
import subprocess

from shipped.binaries import Unreadable, read_units
from shipped.hardening import NOT_OFFERED, PE_CHECKS, REPORTED_ONLY, check_program


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
UNPROTECTED_PE_LINK = {  # by architecture: its compiler, how it links
    "win64": ("x86_64-w64-mingw32-gcc", "-Wl,--disable-dynamicbase,--disable-high-entropy-va,"
              "--disable-nxcompat,--disable-reloc-section"),
    "win32": ("i686-w64-mingw32-gcc", "-Wl,--disable-dynamicbase,--disable-nxcompat,"
              "--disable-reloc-section")}


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
        for arch, (compiler, link) in UNPROTECTED_PE_LINK.items():
            obj, exe = (os.path.join(work, "unprotected-%s.%s" % (arch, end)) for end in ("o", "exe"))
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
            read_units([(os.path.basename(obj), [obj])]))) for name, path, obj, must_fail, must_read_no in programs]
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
