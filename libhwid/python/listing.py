"""Prints the machine's rows as hwidtool lists them, or with --generate ID the Hardware ID of
ID as hwidtool prints it, from the hwid package alone."""
import os
import sys

import hwid

TYPES = {hwid.NIC: b"NIC", hwid.USB: b"USB"}


def terminal_safe(comment):
    """Each control character (C0, DEL, C1) and each byte outside well-formed UTF-8 as "?"."""
    text = os.fsencode(comment).decode("utf-8", "surrogateescape")
    return b"".join(b"?" if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F or 0xDC80 <= ord(c) <= 0xDCFF
                    else c.encode() for c in text)


def main(args):
    if len(args) == 2 and args[0] == "--generate":
        return b"\n%s: %s\n\n" % (os.fsencode(args[1]), hwid.generate(args[1]).encode())
    out = b"\nAvailable unique ids:\n\n%-5s %-32s %-40s\n%s\n" % (
        b"TYPE", b"Hardware ID", b"Comment", b"-" * 78)
    for row in hwid.rows():
        out += b"%-5s %-32s %-40s\n" % (TYPES.get(row.type, b""), row.hardware_id.encode(),
                                        terminal_safe(row.comment))
    return out + b"\n\n\n"


if __name__ == "__main__":
    sys.stdout.buffer.write(main(sys.argv[1:]))
    sys.stdout.flush()
