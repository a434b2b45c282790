#!/usr/bin/env python3
"""Writes the Windows archive so that the same files always give the same
bytes: members in name order under one top folder, each dated
SOURCE_DATE_EPOCH (else now), with fixed modes (programs and DLLs 755, the rest 644)
and no owner or extra timestamp fields.

Usage: zip_archive.py ARCHIVE TOP_FOLDER MEMBER=FILE...
"""
import os
import sys
import time
import zipfile


def entry(name, mode, when):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3  # Unix, so that the modes below are read
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info


def main():
    archive, top = sys.argv[1:3]
    members = dict(arg.split("=", 1) for arg in sys.argv[3:])
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    # Zip dates have two-second steps and start in 1980.
    when = time.gmtime(max(stamp, 315532800))[:6]
    folders = {top + "/"}
    for name in members:
        parts = name.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add(top + "/" + "/".join(parts[:i]) + "/")
    with zipfile.ZipFile(archive + ".part", "w") as z:
        for name in sorted(folders | {top + "/" + m for m in members}):
            if name.endswith("/"):
                z.writestr(entry(name, 0o40755, when), b"")
                continue
            with open(members[name[len(top) + 1:]], "rb") as f:
                data = f.read()
            mode = 0o100755 if name.endswith((".exe", ".dll")) else 0o100644
            z.writestr(entry(name, mode, when), data, compresslevel=9)
    os.replace(archive + ".part", archive)


if __name__ == "__main__":
    main()
