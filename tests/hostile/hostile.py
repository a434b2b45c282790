#!/usr/bin/env python3
"""The real hwidtool on hostile fabricated machines, under memcheck, under a
system-call audit, and with its system calls failing.

Every case runs in fresh network and mount namespaces of its own, on
machines made with tests/lib/fabric.py. Each machine states the rows it
must list as it lays them out (fabric.Machine: the interfaces accepted, the
command's rows, each USB device's), derived from the bytes it writes; the
table expected is fabric's listing of those rows, byte for byte.

  machines  10,000 USB entries; 100 MB, garbage, looping and dangling sysfs
            files; 1 MB ifconfig lines: right table, status 0, nothing on
            standard error, peak memory below a bound
  memcheck  valgrind on listings and --generate: no error, nothing
            definitely or indirectly lost
  audit     strace: files opened read-only, writes only to standard output,
            no process but /bin/sh -c "/sbin/ifconfig -a" (which starts
            /sbin/ifconfig), and that only when sysfs accepted no interface
  faults    each system call made after start-up fails in turn (strace's
            fault injection): no death by a signal, no row a clean run does
            not print, status 0, or 1 and "hwidtool: write error: REASON"
            exactly when output was lost; 1 and that message into /dev/full
            or a closed standard output, the same bytes into a file or pipe

Usage: hostile.py --binary PATH [--no-memory-bound] CHECK...
Prints the suite's ok/FAIL/SKIP line per case (also into $HWID_CHECKS when
set) and "N passed, M failed"; exit status 0 all passed,
1 a failure (a tool missing or namespaces refused too), 77 skipped (not root).
"""

import argparse
import concurrent.futures
import errno
import os
import random
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import fabric as f  # noqa: E402

MB = 1024 * 1024
BIG = 100 * MB
NET = "/sys/class/net"
TAP0 = ("tap", "tap0", "0a:1b:2c:3d:4e:5f", None)
TAP0_ACCEPTED = {"tap0": b"0A1B2C3D4E5F"}
# The plain binary stays near 4 MB whatever the machine holds; anything that
# read a 100 MB file or a 1 MB line whole would pass this bound at once.
PEAK_LIMIT_KB = 16 * 1024


# ------------------------------------------------------------- fabricating --
# Each machine is laid out by its function, which returns its fabric.Machine.

def write_big(path, head, fill, tail=b""):
    """About 100 MB: head, `fill` repeated, tail."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    block = fill * (MB // len(fill))
    with open(path, "wb") as stream:
        written = stream.write(head)
        while written < BIG:
            written += stream.write(block)
        stream.write(tail)


def machine_usb_10000():
    # Every 7th device is mass storage, every 5th has no serial.
    devices = []
    for i in range(4999):
        name, serial = "1-%d" % (i + 1), b"SER%05d\n" % i if i % 5 else None
        words = (b"Maker %d\n" % (i % 13), b"Product %d\n" % i)
        devices.append(f.stick(name, serial, *words, expected=serial is not None) if i % 7 == 0
                       else f.UsbDevice(name, serial, *words, [(name + ":1.0", b"03\n")]))
    machine = f.fabricate(f.Machine("usb-10000", [TAP0], TAP0_ACCEPTED, devices))
    # usb1, 4999 devices, 4999 interfaces and one stray entry: 10,000.
    os.symlink("nowhere", os.path.join(f.USB_DEVICES, "stray"))
    assert len(os.listdir(f.USB_DEVICES)) == 10000
    return machine


def machine_huge_attributes():
    """A line longer than the 1023 bytes read of an attribute reads as empty:
    only 1-1 (its serial's first line) and 1-4 (its class word found after
    the white space) are listed, and without the words too long to read."""
    serials = {"1-3": b"CSER\n", "1-4": b"DSER\n"}
    listed = {"1-1": (b"BIGSER", b" - Prod"), "1-4": (b"DSER", b" - ")}
    machine = f.fabricate(f.Machine("huge-attributes", [TAP0], TAP0_ACCEPTED, [
        f.UsbDevice(name, serials.get(name), b"Maker\n", b"Prod\n", [(name + ":1.0", b"08\n")],
                    {name + ":1.0": listed[name]} if name in listed else {})
        for name in ("1-1", "1-2", "1-3", "1-4", "1-5")]))
    # Serial line followed by 100 MB; manufacturer 100 MB without a newline.
    write_big(f.usb_path("1-1", "serial"), b"BIGSER\n", b"A")
    write_big(f.usb_path("1-1", "manufacturer"), b"", b"M")
    # A serial of 100 MB on one line: too long, so no record.
    write_big(f.usb_path("1-2", "serial"), b"", b"S", b"\n")
    # Class "08" glued to 100 MB of text: the word is not 08.
    write_big(f.usb_path("1-3", "1-3:1.0", "bInterfaceClass"), b"08", b"x", b"\n")
    # 100 MB of white space before the word; a product line of 100 MB.
    write_big(f.usb_path("1-4", "1-4:1.0", "bInterfaceClass"), b"", b" \n\t", b"08\n")
    write_big(f.usb_path("1-4", "product"), b"", b"P", b"\n")
    write_big(f.usb_path("1-4", "manufacturer"), b"", b"\n")
    # Class file of 100 MB of "08\n" lines and a serial of 100 MB of NULs.
    write_big(f.usb_path("1-5", "1-5:1.0", "bInterfaceClass"), b"", b"08\n")
    write_big(f.usb_path("1-5", "serial"), b"", b"\0")
    return machine


def machine_garbage_class():
    """Class files whose first word is no 08: only the one real stick is listed."""
    rng = random.Random(20261207)
    garbage = [bytes(rng.randrange(256) for _ in range(4096)) for _ in range(6)]
    garbage += [b"\x00\x08\n", b"\xff\xfe0\x008\n", b"0\x008\n"]
    devices = [f.UsbDevice("1-%d" % (i + 1), b"G%d\n" % i, b"Junk\n", b"Class\n",
                           [("1-%d:1.0" % (i + 1), g)]) for i, g in enumerate(garbage)]
    return f.fabricate(f.Machine("garbage-class", [TAP0], TAP0_ACCEPTED, devices + [
        f.stick("2-1", b"GOOD0001\n", b"Real\n", b"Stick\n")]))


def machine_bad_links():
    """Links that cannot be read are no attribute; of the devices they spoil
    only 1-5 is listed, with 1-1's serial and no product."""
    machine = f.fabricate(f.Machine("bad-links", [TAP0], TAP0_ACCEPTED, [
        f.stick("1-1", b"GOOD0001\n", b"Real\n", b"Stick\n"),
        f.UsbDevice("1-2", None, None, b"Prod\n", [("1-2:1.0", b"08\n")]),
        f.UsbDevice("1-3", None, None, None, [("1-3:1.0", b"08\n")]),
        f.UsbDevice("1-4", b"ZERO0001\n", None, None, [("1-4:1.0", b""), ("1-4:1.1", b"")]),
        f.UsbDevice("1-5", None, b"Maker\n", None, [("1-5:1.0", b"08\n")],
                    {"1-5:1.0": (b"GOOD0001", b"Maker - ")}),
    ]))
    entry = f.USB_DEVICES + "/"
    # path, and where it links to (None: a directory where a file belongs)
    links = [
        # Entries that lead nowhere, in a loop, or to a device file.
        (entry + "dangling", "../../../devices/gone"), (entry + "self", "self"),
        (entry + "loop-a", "loop-b"), (entry + "loop-b", "loop-a"), (entry + "zero", "/dev/zero"),
        # 1-2: the serial leads nowhere, the manufacturer to itself.
        (f.usb_path("1-2", "serial"), "gone"), (f.usb_path("1-2", "manufacturer"), "manufacturer"),
        # 1-3: the serial reads for ever, the manufacturer is a directory.
        (f.usb_path("1-3", "serial"), "/dev/zero"), (f.usb_path("1-3", "manufacturer"), None),
        # 1-4: the serial would be valid; one class file is /dev/zero, one a directory.
        (f.usb_path("1-4", "1-4:1.0", "bInterfaceClass"), "/dev/zero"),
        (f.usb_path("1-4", "1-4:1.1", "bInterfaceClass"), None),
        # 1-5: the serial is a good one elsewhere, the product loops.
        (f.usb_path("1-5", "serial"), "../1-1/serial"), (f.usb_path("1-5", "product"), "product"),
    ]
    for path, target in links:
        if os.path.lexists(path):
            os.remove(path)
        if target is None:
            os.makedirs(path)
        else:
            os.symlink(target, path)
    return machine


def machine_address_files():
    """Real interfaces always have a proper address file, so these are on a tmpfs
    over /sys/class/net, each with its file's bytes, a function making it, or None.
    An address is read up to 29 bytes and cut at a NUL: huge0's and ib0's
    29 bytes hold more than an address, nul1's NUL ends one."""
    rng = random.Random(7)
    entries = [
        ("nonl0", b"00:1a:2b:3c:4d:5e"), ("nul0", b"\0" * 4096),
        ("nul1", b"00:1a:2b:3c:4d:5f\0\0\0garbage\n"), ("nul2", b"\0" + b"00:1a:2b:3c:4d:60\n"),
        ("huge0", lambda p: write_big(p, b"02:00:00:00:00:01", b"x")),
        ("huge1", lambda p: write_big(p, b"   0a:0b:0c:0d:0e:0f   \n", b"y")),
        ("garbage0", bytes(rng.randrange(256) for _ in range(512))),
        ("cr0", b"00:1a:2b:3c:4d:61\r\n"), ("empty0", b""), ("nl0", b"\n"),
        ("ib0", b"80:00:02:08:fe:80:00:00:00:00:00:00:00:11:22:33:44:55:66:77\n"),
        ("zero0", lambda p: os.symlink("/dev/zero", p)),
        ("loop0", lambda p: os.symlink("address", p)), ("dir0", os.makedirs),
        ("noaddr0", None), ("veth9", b"00:1a:2b:3c:4d:62\n"),
        (".hidden", b"00:1a:2b:3c:4d:63\n"), ("evil\x1b[31m\nname", b"00:1a:2b:3c:4d:64\n"),
        ("nocolon0", b"001a2b3c4d65"),
    ]
    accepted = {"nonl0": b"001A2B3C4D5E", "nul1": b"001A2B3C4D5F", "huge1": b"0A0B0C0D0E0F",
                "cr0": b"001A2B3C4D61", "evil\x1b[31m\nname": b"001A2B3C4D64",
                "nocolon0": b"001A2B3C4D65"}
    eth9 = b"eth9 Link encap:Ethernet HWaddr 00:99:99:99:99:99\n"  # not run: sysfs has some
    machine = f.fabricate(f.Machine("address-files", accepted=accepted, ifconfig=eth9))
    f.run("mount", "-t", "tmpfs", "tmpfs", NET)
    for name, content in entries:
        path = os.path.join(NET, name, "address")
        os.makedirs(os.path.dirname(path))
        if callable(content):
            content(path)
        elif content is not None:
            f.write(path, content)
    return machine


def machine_ifconfig_1mb():
    """Only the loopback interface: the command's lines, read in pieces of
    `piece` bytes (the longest line read at once), each cut at a NUL."""
    piece = 4095
    good = b"eth7 Link encap:Ethernet HWaddr 00:1a:2b:3c:4d:77"
    pad = b"A" * (piece - len(good))
    out = b"x" * MB + b"\n"                                     # a 1 MB line
    out += pad + good + b"y" * MB + b"\n"                       # ends a piece
    out += good + b" " * (piece - len(good)) + b"z" * MB + b"\n"  # starts a piece
    out += b"eth8 Link encap:Ethernet HWaddr " + b"0" * MB + b"\n"
    out += b"HWaddr Ethernet \0 " * 60000 + b"\n"
    out += bytes(random.Random(3).randrange(256) for _ in range(MB))
    out += b"\neth0      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:5e  \n"
    return f.fabricate(f.Machine("ifconfig-1mb", ifconfig=out, expect_fallback=True, fallback_rows=[
        (pad + b"eth7", b"001A2B3C4D77"), (b"eth7", b"001A2B3C4D77"), (b"eth0", b"001A2B3C4D5E")]))


MACHINES = {"usb-10000": machine_usb_10000, "huge-attributes": machine_huge_attributes,
            "garbage-class": machine_garbage_class, "bad-links": machine_bad_links,
            "address-files": machine_address_files, "ifconfig-1mb": machine_ifconfig_1mb}


def zoo(fallback, more=b"", more_rows=()):
    """The system tests' USB zoo and old ifconfig, the command's lines `more`
    after it; with `fallback`, no NIC accepted."""
    interfaces = [TAP0, ("bridge", "br0", "02:11:22:33:44:55", None)]
    accepted = dict(TAP0_ACCEPTED, br0=b"021122334455")
    return f.fabricate(f.Machine("zoo", f.REJECTED_ONLY if fallback else interfaces,
                                 {} if fallback else accepted, f.usb_zoo(), f.OLD_IFCONFIG + more,
                                 f.OLD_IFCONFIG_ROWS + list(more_rows), fallback))


# ------------------------------------------------------------------ checks --
# Each is given its case and the command line, and returns its problems and
# the note for its ok or FAIL line.

def check_machine(name, args):
    machine = MACHINES[name]()
    rows = f.expected_rows(machine)
    with tempfile.NamedTemporaryFile("r") as report:
        result = f.started(["/usr/bin/time", "-v", "-o", report.name, args.binary], timeout=120)
        found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", report.read())
    peak = int(found.group(1)) if found else -1
    # hwidtool's one message is for output it could not write, and a pipe
    # takes it all; a sanitizer's report or a shell's complaint lands here.
    failures = f.judge(result, 0, f.listing(rows), b"", machine.expect_fallback)
    if args.memory_bound and not 0 < peak <= PEAK_LIMIT_KB:
        failures.append("peak memory %d kB, bound %d kB" % (peak, PEAK_LIMIT_KB))
    return failures, "peak %d kB, %d rows" % (peak, len(rows))


MEMCHECK_CASES = ["memcheck-sysfs", "memcheck-fallback", "memcheck-generate"]


def check_memcheck(name, args):
    if name == "memcheck-generate":
        device = b"4C530001230918103512 \x1b"
        options = ["--generate", device.decode()]
        expected = b"\n" + device + b": " + f.hardware_id(device) + b"\n\n"
    else:
        options, expected = [], f.listing(f.expected_rows(zoo(name == "memcheck-fallback")))
    with tempfile.NamedTemporaryFile("r") as log:
        result = f.started(
            ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
             "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
             "--track-fds=no", "--log-file=" + log.name, args.binary] + options, timeout=300)
        text = log.read()
    kept = "ERROR SUMMARY|(definitely|indirectly) lost|in use at exit|All heap blocks were freed"
    summary = [re.sub(r"^==\d+== +", "", line) for line in text.splitlines()
               if re.search(kept, line)]
    failures = []
    if result.returncode != 0:
        failures.append("valgrind status %d:\n%s" % (result.returncode, text[-4000:]))
    if result.stdout != expected:
        failures.append("stdout differs under valgrind")
    if not any("ERROR SUMMARY: 0 errors" in line for line in summary):
        failures.append("errors reported: %s" % summary)
    failures += [line for line in summary if re.search(r"(definitely|indirectly) lost", line)
                 and not re.search(r"lost: 0 bytes in 0 blocks", line)]
    return failures, "; ".join(summary)


# The audit: strace -ff writes one file per process, so each process's calls
# can be judged on their own.
AUDIT_CASES = ["audit-sysfs", "audit-fallback"]
OPENS = {"open", "openat", "openat2"}
WRITES = {"write", "writev", "pwrite64", "pwritev", "pwritev2"}
SPAWNS = {"fork", "vfork", "clone", "clone3"}
FORBIDDEN = set("""creat sendto sendmsg sendmmsg socket connect mkdir mkdirat unlink
    unlinkat rmdir rename renameat renameat2 link linkat symlink symlinkat chmod fchmod
    fchmodat chown fchown fchownat lchown truncate ftruncate mknod mknodat utimensat
    setxattr mount ptrace execveat""".split())
TRACED = ",".join(sorted(FORBIDDEN | OPENS | WRITES | SPAWNS | {"execve"}))
WRITING_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND", "O_TMPFILE")
SHELL_EXEC = 'execve("/bin/sh", ["sh", "-c", "/sbin/ifconfig -a"]'
COMMAND_EXEC = 'execve("/sbin/ifconfig", ["/sbin/ifconfig", "-a"]'
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|\?)")


def parse_trace(path):
    """(call, arguments, result, line, stack frames with -k) of each call."""
    calls = []
    with open(path, errors="replace") as stream:
        for line in stream:
            if line.startswith(" > ") and calls:
                # "OBJECT(SYMBOL+OFFSET) [OFFSET IN OBJECT]": the same place in every run.
                calls[-1][4].append(line[3:].strip())
            found = CALL.match(line)
            if found:
                calls.append(found.groups() + (line.rstrip(), []))
    return calls


def strace_ff(binary, folder, *options):
    """hwidtool under strace -ff: the run, the calls of each process by pid,
    and the pid whose trace starts with hwidtool's execve (None without)."""
    result = f.started(["strace", "-ff", "-qq", "-o", os.path.join(folder, "trace")]
                       + list(options) + [binary], timeout=120)
    traces = {int(name.rsplit(".", 1)[1]): parse_trace(os.path.join(folder, name))
              for name in os.listdir(folder)}
    program = next((pid for pid, calls in traces.items()
                    if calls and calls[0][3].startswith('execve("%s"' % binary)), None)
    return result, traces, program


def check_audit(name, args):
    fallback = name == "audit-fallback"
    expected = f.listing(f.expected_rows(zoo(fallback)))
    with tempfile.TemporaryDirectory() as folder:
        result, traces, program = strace_ff(args.binary, folder, "-v", "-s", "256",
                                            "-e", "trace=" + TRACED)
    failures = [] if result.stdout == expected else ["stdout differs under strace"]
    # role: "program" (hwidtool itself), "child" (what popen started, until it
    # has become the shell) or "shell" (the shell and its children)
    opened, seen, queue = set(), set(), [(program, "program")]
    commands = spawned = 0
    while queue:
        pid, role = queue.pop(0)
        seen.add(pid)
        if pid not in traces:
            failures.append("no trace of process %s" % pid)
            continue
        for number, (call, arguments, returned, line, _) in enumerate(traces[pid]):
            if call == "execve":
                if role == "child" and number == 0 and line.startswith(SHELL_EXEC):
                    role = "shell"
                elif role == "shell" and line.startswith(COMMAND_EXEC):
                    commands += 1
                    break  # from here on it is the command's business
                elif role != "program" or number != 0:
                    failures.append("%s ran: %s" % (role, line))
            elif call in SPAWNS and returned.isdigit() and int(returned) > 0:
                queue.append((int(returned), "child" if role == "program" else "shell"))
                if role == "program":
                    spawned += 1
            elif call in OPENS:
                if any(flag in arguments for flag in WRITING_FLAGS):
                    failures.append("%s opened for writing: %s" % (role, line))
                if role == "program" and not returned.startswith("-"):
                    opened.add(re.search(r'"((?:[^"\\]|\\.)*)"', arguments).group(1))
            elif call in WRITES:
                if role != "program" or not arguments.startswith("1,"):
                    failures.append("%s wrote: %s" % (role, line[:200]))
            elif call in FORBIDDEN:
                failures.append("%s called: %s" % (role, line[:200]))
        if role == "child":
            failures.append("popen's child never ran the shell")
    # Processes the command itself started are its own; anything else is not.
    if commands == 0 and set(traces) - seen:
        failures.append("processes outside the audit: %s" % sorted(set(traces) - seen))
    if fallback and (spawned != 1 or commands != 1):
        failures.append("expected one shell running the command once, got %d processes "
                        "and %d commands" % (spawned, commands))
    if not fallback and (spawned or commands):
        failures.append("a process was started although sysfs accepted interfaces")
    outside = sorted(p for p in opened if not p.startswith("/sys/") and p != "/etc/ld.so.cache"
                     and not re.search(r"/lib[^/]*\.so(\.\d+)*$", p))
    if outside:
        failures.append("opened outside sysfs: %s" % outside)
    return failures, "%d files opened, %d processes started" % (len(opened), spawned)


# Errors each call can really give; any other call gets FAULT_DEFAULT.
FAULT_ERRORS = {call: errors.split() for calls, errors in [
    ("read pread64 readv", "EIO EINTR"), ("write writev", "EIO ENOSPC EINTR"),
    ("open openat", "EACCES EMFILE ENOMEM"), ("close", "EIO ENOSPC"),
    ("mmap munmap mremap", "ENOMEM"), ("mprotect", "ENOMEM EACCES"),
    ("newfstatat statx", "EACCES ENOMEM"), ("fstat getdents64", "EIO ENOMEM"),
    ("access faccessat2", "EACCES EIO"), ("pipe2", "EMFILE ENFILE"), ("dup2 dup3", "EBADF EMFILE"),
    ("clone clone3 vfork", "EAGAIN ENOMEM"), ("wait4", "EINTR ECHILD"),
    ("getrandom", "EINTR ENOSYS"), ("ioctl", "ENOTTY EIO"), ("lseek", "ESPIPE EIO"),
    ("fcntl", "EBADF EINVAL"), ("prlimit64", "EPERM EINVAL"),
    ("rt_sigaction rt_sigprocmask", "EINVAL")] for call in calls.split()}
FAULT_DEFAULT = ("EIO", "ENOMEM")
# Failures the kernel never gives (strace skips the call and returns an error):
# execve and the exits have none a running program meets; a real brk fails by
# returning the old break, and glibc takes an injected -ENOMEM for a wild one
# (mmap's ENOMEM is running out of memory); a futex wake on a valid word
# cannot fail, and glibc stops the program if it does.
NOT_FAILED = {"execve", "exit_group", "exit", "brk", "futex"}
# close frees the descriptor even when it reports an error; a skipped one
# leaves popen's write end open in the reader, which then waits for ever. Only
# the close of standard output fails: its error is the output's last word.
OUTPUT_CLOSE = "close(1)"
# A failure of these on descriptor 1 loses output the program meant to give.
OUTPUT_CALL = re.compile(r"^(%s|close)\(1[,)]" % "|".join(sorted(WRITES)))


def faults_machine():
    """The zoo on the command fallback, with enough interfaces that the listing
    takes several 4096-byte writes and the command's pipe several reads."""
    numbers = [(i, i >> 8, i & 255) for i in range(1, 161)]
    return zoo(True, b"".join(b"fx%d      Link encap:Ethernet  HWaddr 02:00:00:00:%02x:%02x  \n"
                              % number for number in numbers),
               [(b"fx%d" % i, b"02000000%02X%02X" % (high, low)) for i, high, low in numbers])


def fault_targets(calls):
    """kind -> the numbers N (strace's when=N) of the calls to fail: each one
    after start-up, as the same place can fail differently at another moment
    (a pipe read in mid-line, the listing's last buffer). Failing the loader's
    calls would test ld.so, which ends the run before main."""
    counted, targets = {}, {}
    for call, _, _, line, frames in calls:
        counted[call] = counted.get(call, 0) + 1
        in_loader = all(re.match(r"^\S*/ld-[^/(]*\.so[^/(]*\(", frame) for frame in frames)
        other_close = call == "close" and not line.startswith(OUTPUT_CLOSE)
        if call not in NOT_FAILED and not in_loader and not other_close:
            targets.setdefault(call, []).append(counted[call])
    return targets


def unread_string_lines(rows):
    """Each USB row as it shows when its manufacturer, product or both could
    not be read (read as empty, as quickread has it: the Hardware ID stays,
    words go), mapped to the row a clean run prints. No manufacturer of the
    zoo holds " - ", so a comment's first one parts its two words."""
    def usb_line(serial, *words):
        return f.table_line(b"USB", f.hardware_id(serial), f.shown_comment(b" - ".join(words)))
    shown = {}
    for kind, serial, comment in rows:
        if kind == b"USB":
            maker, _, product = comment.partition(b" - ")
            for words in ((b"", product), (maker, b""), (b"", b"")):
                shown[usb_line(serial, *words)] = usb_line(serial, maker, product)
    return shown


def stray_line(out, clean, unread):
    """The first line of `out` that is not next in order among `clean`'s
    lines (rows may be missing, none added or moved), or None."""
    lines = iter(clean.splitlines(True))
    for line in out.splitlines(True):
        if not any(unread.get(line, line) == candidate for candidate in lines):
            return line
    return None


def try_fault(binary, folder, clean, unread, call, error, when):
    """The problems of one run with the when-th `call` failing with `error`."""
    trace = os.path.join(folder, "%s-%s-%d" % (call, error, when))
    heading = "%s error=%s when=%d: " % (call, error, when)
    # A group of its own, so that a hung hwidtool ends with its strace.
    process = subprocess.Popen(
        ["strace", "-qq", "-o", trace, "-e", "trace=" + call,
         "-e", "inject=%s:error=%s:when=%d" % (call, error, when), binary],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        start_new_session=True)
    try:
        out, err = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return [heading + "no end within 60 s"]
    with open(trace, errors="replace") as stream:
        injected = [line.rstrip() for line in stream if "(INJECTED)" in line]
    status = process.returncode
    if not injected:
        return [heading + "the call was never made: the run differs from the clean one"]
    if status < 0:
        return [heading + "killed by signal %d, stderr %r" % (-status, err[-400:])]
    # The call with its strings left out: enough to tell which it was.
    shown = re.sub(r'"(?:[^"\\]|\\.)*"(\.\.\.)?', '"..."', injected[0])[:120]
    problems = []
    if OUTPUT_CALL.match(injected[0]):
        want = ("hwidtool: write error: %s\n" % os.strerror(getattr(errno, error))).encode()
        if status != 1 or err != want:
            problems.append("output lost (%s): status %d, stderr %r; wanted status 1, %r"
                            % (shown, status, err[-400:], want))
        if not clean.startswith(out):
            problems.append("stdout is not a beginning of the clean listing: %d bytes, %r..."
                            % (len(out), out[-200:]))
    else:
        if status != 0 or err:
            problems.append("status %d, stderr %r (%s)" % (status, err[-400:], shown))
        stray = stray_line(out, clean, unread)
        if stray is not None:
            problems.append("a line no clean run prints: %r" % stray[:200])
    return [heading + problem for problem in problems]


def check_faults_injected(_, args):
    rows = f.expected_rows(faults_machine())
    expected = f.listing(rows)
    # The same run without strace is faults-full's, into a pipe.
    with tempfile.TemporaryDirectory() as folder:
        traced, traces, program = strace_ff(args.binary, folder, "-k")
        calls = traces.get(program, [])
        # Only hwidtool's calls fail: a failure in the stand-in ifconfig it
        # starts only shortens that command's output, which the fallback
        # machines cover.
        started = {c[0] for pid, other in traces.items() if pid != program for c in other}
        if traced.returncode != 0 or traced.stdout != expected:
            return ["clean run under strace -k: status %d, stdout %s the expected listing" % (
                traced.returncode, "equals" if traced.stdout == expected else "differs from")], ""
        if not any(frames for _, _, _, _, frames in calls):
            return ["strace -k gave no stacks for hwidtool's calls"], ""
        targets = fault_targets(calls)
        unread = unread_string_lines(rows)
        runs = [(call, error, when) for call in sorted(targets) for when in targets[call]
                for error in FAULT_ERRORS.get(call, FAULT_DEFAULT)]
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
            failures = [problem for problems in pool.map(
                lambda run: try_fault(args.binary, folder, expected, unread, *run), runs)
                for problem in problems]
    return failures, ("%d runs, %d kinds of call failed in turn: %s; %d kinds in the "
                      "processes it starts, not failed"
                      % (len(runs), len(targets), " ".join(sorted(targets)), len(started)))


def check_faults_full(_, args):
    """Each command into /dev/full, a closed standard output, a file, a pipe."""
    binary = args.binary
    commands = [([], f.listing(f.expected_rows(faults_machine()))),
                (["--generate", "abc"], b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"),
                (["-h"], f.usage(binary.encode()))]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        into = os.path.join(folder, "out")
        to_file = "> " + shlex.quote(into)
        # Where standard output goes (nowhere: a pipe), the status and the
        # standard error wanted; where the status is 0 the bytes must arrive.
        ways = [("> /dev/full", 1, b"hwidtool: write error: No space left on device\n"),
                (">&-", 1, b"hwidtool: write error: Bad file descriptor\n"),
                (to_file, 0, b""), ("", 0, b"")]
        for options, want in commands:
            shown = " ".join([os.path.basename(binary)] + options)
            for redirect, status, message in ways:
                result = f.started(["sh", "-c", 'exec "$0" "$@" ' + redirect, binary] + options,
                                   timeout=60)
                out = result.stdout
                if redirect == to_file:
                    with open(into, "rb") as stream:
                        out = stream.read()
                wanted = (status, message, want if status == 0 else b"")
                if (result.returncode, result.stderr, out) != wanted:
                    failures.append("%s %s: status %d, stderr %r, %d bytes%s" % (
                        shown, redirect or "| (a pipe)", result.returncode, result.stderr,
                        len(out), "" if out == wanted[2] else " that differ"))
    return failures, ""


# -------------------------------------------------------------------- main --

# mode: the tool its cases need, and each case's check
MODES = {"machines": ("/usr/bin/time", dict.fromkeys(MACHINES, check_machine)),
         "memcheck": ("valgrind", dict.fromkeys(MEMCHECK_CASES, check_memcheck)),
         "audit": ("strace", dict.fromkeys(AUDIT_CASES, check_audit)),
         "faults": ("strace", {"faults-injected": check_faults_injected,
                               "faults-full": check_faults_full})}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--no-memory-bound", dest="memory_bound", action="store_false",
                        help="for sanitizer builds, whose memory use is their own")
    f.add_case_options(parser)
    parser.add_argument("checks", nargs="*", default=list(MODES))
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)
    if args.inside:
        check = next(cases[args.inside] for _, cases in MODES.values() if args.inside in cases)
        return f.answer_inside(args, lambda: check(args.inside, args))

    stop = f.what_stops_fabrication()
    if stop:
        return f.report_stop(f.Count(), " ".join(args.checks), stop)
    count = f.Count()
    unbounded = "" if args.memory_bound else ", no memory bound"
    for check in args.checks:
        tool, cases = MODES[check]
        if not shutil.which(tool):
            count.record(check, ["%s is missing after the install step" % tool])
            continue
        f.run_cases(count, cases, lambda case: "%s %s%s" % (check, case, unbounded))
    return count.finish()


if __name__ == "__main__":
    sys.exit(main())
