"""Checks the hwid package on a machine that lists ROWS rows (tests/system/machines.py
--checker): as many rows, from eight threads at once as from one, each Hardware ID that of its
device id as rows() decoded it, the text forms encoding back to the library's bytes, and the errors
as the package documents them. Exit status 0 when all held."""
import ctypes
import os
import sys
import threading

import hwid


def raw_rows():
    """The library's own bytes of each row (device id, comment), read through the package's
    handle on it, with nothing decoded."""
    library, handle = hwid._library, ctypes.c_void_p()
    if library.hwid_list_new(ctypes.byref(handle)) != 0:
        return None
    try:
        return [(library.hwid_list_device_id(handle, i), library.hwid_list_comment(handle, i))
                for i in range(library.hwid_list_count(handle))]
    finally:
        library.hwid_list_free(handle)


def main(expected):
    first = hwid.rows()
    results = []
    threads = [threading.Thread(target=lambda: results.append(hwid.rows())) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    problems = ["%d rows, not %d" % (len(first), expected)] if len(first) != expected else []
    problems += ["a thread's rows differ"] if any(r != first for r in results) or len(results) != 8 else []
    if [(os.fsencode(r.device_id), os.fsencode(r.comment)) for r in first] != raw_rows():
        problems.append("a device id or comment does not encode back to the library's bytes")
    for row in first:
        if hwid.generate(row.device_id) != row.hardware_id or \
                hwid.generate(os.fsencode(row.device_id)) != row.hardware_id:
            problems.append("generate(%r) is not %s" % (row.device_id, row.hardware_id))
        if not hwid.present(row.hardware_id.lower()):
            problems.append("present(%s) is false" % row.hardware_id.lower())
    for wrong, error in (("0" * 31, ValueError), ("G" * 32, ValueError), (b"0" * 32, TypeError)):
        try:
            hwid.present(wrong)
            problems.append("present(%r) raised nothing" % (wrong,))
        except error:
            pass
    if problems:  # standard error: the machine's FAIL line shows it
        print("\n".join(problems), file=sys.stderr)
        return 1
    print("%d rows, each its Hardware ID, %d with bytes beyond ASCII, 8 threads agreeing" % (
        len(first), sum(not (r.comment + r.device_id).isascii() for r in first)))
    return 0


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1])))
