"""libhwid's interface against its committed baseline, as abidiff judges it."""
import os
import re
import subprocess

# The interface as hwid.h gives it: the exported functions and the types they
# reach, without the build's paths. The same command writes the baseline.
ABIDW = ["abidw", "--exported-interfaces-only", "--drop-private-types", "--no-corpus-path",
         "--no-comp-dir-path", "--short-locs", "--headers-dir"]
# abidiff's status is a set of bits: 1 an error, 2 a usage error, 4 a change, 8 a removal.
# It leaves a changed type to the reader (4 alone); here only added functions are compatible.
ABIDIFF_BROKEN = 1 | 2 | 8


def check_abi(library, work, baseline):
    """True when the library's interface is the baseline (libhwid/hwid.abi of the sources) or
    a compatible extension of it."""
    headers = os.path.dirname(baseline)
    current = os.path.join(work, "hwid.abi")
    with open(current, "w") as out:
        dumped = subprocess.run(ABIDW + [headers, library], stdout=out, stderr=subprocess.PIPE,
                                text=True)
    if dumped.returncode != 0 or "hwid_list_new" not in open(current).read():
        print("FAIL abi: abidw %s: %s" % (library, dumped.stderr.strip() or "no hwid_list_new"))
        return False
    diff = subprocess.run(["abidiff", baseline, current], stdout=subprocess.PIPE,
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
