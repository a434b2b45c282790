#!/usr/bin/python3
"""Checks the files of a release as scripts/release.sh built them, and the hardening of every
binary in them.

Usage: check-shipped.py WORK OUT

WORK is the release's work folder: the clone it was built from (src/) and each build's folder;
OUT the folder it wrote the files to. Each file that packaging/release.tsv lists is read by
the module of its kind (shipped/KIND.py): what it holds, and that each binary in it is the
build's, whose exports the link checked (a stripped ELF one: the same loaded image). Then
libhwid's interface is compared with its committed baseline (shipped/abi.py), and every binary
goes through the hardening table (shipped/hardening.py), which first runs on programs built
here without protection (shipped/selfcheck.py). What cannot be read is a failure, never a
pass. Exit status 0 when all passed, 1 when one failed, 2 for a wrong command line.
"""
import importlib
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from shipped.abi import check_abi  # noqa: E402
from shipped.binaries import Unreadable, is_elf  # noqa: E402
from shipped.hardening import print_table  # noqa: E402
from shipped.release import Release  # noqa: E402
from shipped.selfcheck import self_check  # noqa: E402

# The library whose interface is compared: Debian 12's amd64 build, with its debugging
# information.
ABI_LIBRARY = ("deb-amd64-libhwid", "libhwid", "libhwid.so.1.0.0")


def main():
    if len(sys.argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as scratch:
        release = Release(*sys.argv[1:], scratch)
        for kind, name, arch, _, _ in release.files:  # One that cannot be read hides none after it.
            try:
                importlib.import_module("shipped." + kind).check(release, name, release.arches.get(arch))
            except Exception as error:  # whatever a broken or missing file raises, it is unread
                release.expect(False, "%s cannot be read: %s" % (name, error) if isinstance(
                    error, Unreadable) else "%s cannot be read: %s: %s" % (name, type(error).__name__, error))
        failed = bool(release.problems)
        failed = not check_abi(release.path(*ABI_LIBRARY), scratch,
                               release.path("src", "libhwid", "hwid.abi")) or failed
        kinds = {"ELF" if is_elf(path) else "PE" for _, path, _, _, _ in release.programs}
        failed = not self_check(scratch, kinds) or failed
        failed = print_table(release.programs) or failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
