#!/usr/bin/env python3
"""Runs the real hwidtool, with its fixed paths, on fabricated machines
(tests/lib/fabric.py): its standard output must be the listing worked out
there, byte for byte, and its standard error empty.

Usage: machines.py --binary PATH [--save DIR] [--only NAME ...]
                   [--runner COMMAND | --bare-root STATIC_SHELL]
                   [--consumer COMMAND ...] [--licence COMMAND HARDWARE_ID ...]
                   [--checker COMMAND ...]
--runner starts the binary through another program (an emulator such as
qemu-aarch64-static). --bare-root runs it, on each machine, in a root that
holds nothing but the binary, sysfs, the stand-in ifconfig and the given
static shell as /bin/sh (so that it provably needs nothing from the system).
--consumer runs a program built on libhwid that lists the rows as hwidtool
does on each machine too, a command line split as the shell splits words
("python3 listing.py" fits); its output must equal hwidtool's byte for byte,
under the same rules (status 0, nothing on standard error, ifconfig run
exactly where hwidtool needs it).
--licence runs the guide's example of a language (a command line, as for
--consumer), made to accept HARDWARE_ID only: where
the machine's expected rows hold that ID it must exit 0 and print "licensed
for this machine", elsewhere exit 1 and say "this licence is for another
machine" on standard error, and nothing else either way.
--checker runs a program (a command line) that checks the library itself, given the number of
rows the machine must list as its one argument: status 0, nothing on
standard error; its last line of output goes into the machine's line.
The last three need the system's C library: not with --bare-root.
Prints the suite's ok/FAIL/SKIP lines (also into $HWID_CHECKS when set).
Exit status: 0 all passed, 1 a failure, 77 skipped (not root).
"""

import argparse
import ctypes
import os
import platform
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import fabric as f  # noqa: E402

RUNNER = []  # the emulator the binary runs under, if any (--runner)


def launch(command, args=()):
    """subprocess.run keywords that start `command` (under RUNNER) with `args`."""
    return {"args": RUNNER + list(command) + list(args)}


def bare_root(binary, shell):
    """A root on tmpfs with only the binary, this machine's sysfs, the
    stand-in /sbin and `shell` as /bin/sh; returns subprocess.run keywords
    that run the binary in it."""
    root = "/mnt"  # hidden by a tmpfs of this mount namespace, left as it was
    f.run("mount", "-t", "tmpfs", "tmpfs", root)
    shutil.copy(binary, os.path.join(root, "hwidtool"))
    for folder in ("sys", "sbin", "bin"):
        os.mkdir(os.path.join(root, folder))
    f.run("mount", "--rbind", "/sys", os.path.join(root, "sys"))
    f.run("mount", "--bind", os.path.realpath("/sbin"), os.path.join(root, "sbin"))
    shutil.copy(shell, os.path.join(root, "bin", "sh"))
    os.symlink("sh", os.path.join(root, "bin", "cat"))  # busybox: one file, many commands

    def enter():
        os.chroot(root)
        os.chdir("/")
    return {"args": ["/hwidtool"], "preexec_fn": enter}


def run_checked(machine, how, status, stdout, stderr=b"", label=""):
    """Runs one program on `machine`, judged by fabric.judge: its standard
    output and what went wrong, each failure prefixed with `label`."""
    result = f.started(**how)
    failures = f.judge(result, status, stdout, stderr, machine.expect_fallback)
    return result.stdout, [label + failure for failure in failures]


def licence_answer(rows, licensed_id):
    """(status, stdout, stderr) of the README's example on a machine with
    `rows`, its licence issued for `licensed_id`."""
    if licensed_id.upper().encode() in {f.hardware_id(device_id) for _, device_id, _ in rows}:
        return 0, b"licensed for this machine\n", b""
    return 1, b"", b"this licence is for another machine\n"


def fabricate_and_run(machine, args):
    """Lays out `machine` and runs the programs on it: what went wrong, and
    a note on what ran for the machine's line."""
    f.fabricate(machine)
    binary = os.path.abspath(args.binary)
    how = bare_root(binary, args.bare_root) if args.bare_root else launch([binary])
    rows = f.expected_rows(machine)
    shown, failures = run_checked(machine, how, 0, f.listing(rows))
    if args.save:
        f.write(os.path.join(args.save, machine.name + ".out"), shown)
    for consumer in args.consumer:
        failures += run_checked(machine, launch(shlex.split(consumer)), 0, shown,
                                label=consumer + ": ")[1]
    notes = ["%d row%s" % (len(rows), "" if len(rows) == 1 else "s")]
    for program, licensed_id in args.licence:
        answer = licence_answer(rows, licensed_id)
        failures += run_checked(machine, launch(shlex.split(program)), *answer,
                                label=program + ": ")[1]
        notes.append("the licensed ID %samong them" % ("" if answer[0] == 0 else "not "))
    for checker in args.checker:
        said, failed = run_checked(machine, launch(shlex.split(checker), [str(len(rows))]), 0,
                                   None, label=checker + ": ")
        failures += failed
        last = said.decode(errors="replace").strip().rsplit("\n", 1)[-1]
        notes.append("%s: %s" % (os.path.basename(shlex.split(checker)[-1]), last or "ran"))
    return failures, ", ".join(notes)


# ---------------------------------------------------------------- machines --

MACHINES = [
    f.Machine(
        "workstation",
        interfaces=[
            ("bridge", "br0", "02:11:22:33:44:55", None),
            ("tap", "tap0", "0a:1b:2c:3d:4e:5f", None),
            ("tap", "tap1", "0a:1b:2c:3d:4e:5f", None),  # same address twice
            ("bridge", "virbr0", "52:54:00:ab:cd:ef", None),
            ("tap", "dock0", "00:16:3e:00:00:01", None),
        ] + f.REJECTED_ONLY,
        accepted={"br0": b"021122334455", "tap0": b"0A1B2C3D4E5F",
                  "tap1": b"0A1B2C3D4E5F", "virbr0": b"525400ABCDEF",
                  "dock0": b"00163E000001"},
        usb=f.usb_zoo(),
        ifconfig=f.OLD_IFCONFIG),
    f.Machine(
        "containers-only",
        interfaces=f.REJECTED_ONLY,
        usb=[f.stick("1-1", b"4C530001230918103512\n", b"SanDisk\n", b"Cruzer Blade\n")],
        ifconfig=f.OLD_IFCONFIG,
        fallback_rows=f.OLD_IFCONFIG_ROWS,
        expect_fallback=True),
    f.Machine(
        "no-ifconfig",
        interfaces=f.REJECTED_ONLY,
        usb=[f.stick("3-2", b"ABCDEF\n", b"Verbatim\n", b"STORE N GO\n")]),
    f.Machine("bare"),  # only lo, no ifconfig
]


# ---------------------------------------------------------------- commands --

def exec_with_argv(binary, args):
    """Runs `binary` with exactly the argument vector `args` (bytes), which
    may be empty or start with an empty name: Python's own ways of starting
    a program refuse both. Returns (exit status, standard output)."""
    if RUNNER:  # qemu's way of choosing the guest's argv[0]
        if not args:
            raise ValueError("an emulator cannot pass on an empty argument vector")
        result = subprocess.run(RUNNER + ["-0", args[0], binary] + args[1:],
                                stdout=subprocess.PIPE)
        return result.returncode, result.stdout
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.dup2(write_end, 1)
        libc = ctypes.CDLL(None, use_errno=True)
        argv = (ctypes.c_char_p * (len(args) + 1))(*args, None)
        envp = (ctypes.c_char_p * 1)(None)
        libc.execve(binary.encode(), argv, envp)
        os._exit(127)
    os.close(write_end)
    out = b""
    while chunk := os.read(read_end, 65536):
        out += chunk
    os.close(read_end)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), out


def check_commands(binary):
    cases = [
        ([b"--generate", b"abc"], b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"),
        ([b"--generate", b"168"], b"\n168: 006F52E9102A8D3BE2FE5614F42BA989\n\n"),
        ([b"--generate", b""], b"\n: D41D8CD98F00B204E9800998ECF8427E\n\n"),
        ([b"--generate", b" a b "], b"\n a b : " + f.hardware_id(b" a b ") + b"\n\n"),
        ([b"--generate", b"\x1b[2J\xff"],
         b"\n\x1b[2J\xff: " + f.hardware_id(b"\x1b[2J\xff") + b"\n\n"),
        # Valid UTF-8 is hashed as its bytes, not as characters of a locale.
        ([b"--generate", "café".encode()],
         b"\ncaf\xc3\xa9: " + f.hardware_id(b"caf\xc3\xa9") + b"\n\n"),
        ([b"--generate"], None),
        ([b"--GENERATE", b"abc"], None),
        ([b"--list", b"abc"], None),
        ([b"--generate", b"a", b"b"], None),
        ([b"-h"], None),
    ]
    failures = []
    for args, expected in cases:
        result = subprocess.run(**launch([binary.encode()], args), stdout=subprocess.PIPE)
        want = expected if expected is not None else f.usage(binary.encode())
        if result.returncode != 0 or result.stdout != want:
            failures.append("args %r: status %d, stdout %r" % (args, result.returncode,
                                                                result.stdout))
    # An empty program name changes nothing but the name the usage shows.
    listing_here = subprocess.run(**launch([binary]), stdout=subprocess.PIPE).stdout
    unnamed = [
        ([b"", b"--generate", b"abc"], b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"),
        ([b"", b"abc"], f.usage(b"hwidtool")),
        ([b""], listing_here),
    ]
    for args, want in unnamed:
        status, out = exec_with_argv(binary, args)
        if status != 0 or out != want:
            failures.append("argv %r: status %d, stdout %r" % (args, status, out))
    # Since Linux 5.18 an empty argument vector arrives as one empty name;
    # before, the program sees a count of 0 and shows the usage.
    if RUNNER:
        print("note: the run without any argument vector needs a direct exec; "
              "not run under " + " ".join(RUNNER))
        return failures
    release = tuple(int(part) for part in platform.release().split(".")[:2])
    status, out = exec_with_argv(binary, [])
    if status != 0 or out != (listing_here if release >= (5, 18) else f.usage(b"hwidtool")):
        failures.append("no argv[0]: status %d, stdout %r" % (status, out))
    return failures


# -------------------------------------------------------------------- main --

def is_hardware_id(text):
    return len(text) == 32 and all(c in "0123456789abcdefABCDEF" for c in text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.environ.get("HWIDTOOL"))
    parser.add_argument("--save", help="folder for each machine's raw output")
    parser.add_argument("--only", nargs="*")
    f.add_case_options(parser)
    how = parser.add_mutually_exclusive_group()
    how.add_argument("--runner", help="emulator to start the binary with")
    how.add_argument("--bare-root", metavar="STATIC_SHELL",
                     help="run in a root without a C library, this shell as /bin/sh")
    parser.add_argument("--consumer", action="append", default=[], metavar="COMMAND",
                        help="a libhwid program whose listing must equal hwidtool's")
    parser.add_argument("--licence", action="append", default=[], nargs=2,
                        metavar=("COMMAND", "HARDWARE_ID"),
                        help="the guide's example, its licence for HARDWARE_ID")
    parser.add_argument("--checker", action="append", default=[], metavar="COMMAND",
                        help="a program checking libhwid, told the machine's row count")
    args = parser.parse_args()
    if (args.consumer or args.licence or args.checker) and args.bare_root:
        parser.error("--consumer, --licence and --checker need the system's C library: "
                     "not with --bare-root")
    for _, text in args.licence:
        if not is_hardware_id(text):
            parser.error("--licence: not a Hardware ID (32 hex digits): %r" % text)
    if not args.binary:
        parser.error("--binary (or HWIDTOOL) names the hwidtool to run")
    if args.runner:
        RUNNER.extend(shlex.split(args.runner))
    machines = {machine.name: machine for machine in MACHINES}
    if args.inside:
        return f.answer_inside(args, lambda: fabricate_and_run(machines[args.inside], args))

    count = f.Count()
    count.record("commands", check_commands(os.path.abspath(args.binary)))
    stop = f.what_stops_fabrication()
    if stop:
        status = f.report_stop(count, "fabricated machines", stop)
        return 1 if count.failed else status
    f.run_cases(count, [name for name in machines if not args.only or name in args.only],
                lambda name: "machine " + name)
    return count.finish()


if __name__ == "__main__":
    sys.exit(main())
