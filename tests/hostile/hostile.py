#!/usr/bin/env python3
"""The real hwidtool on hostile fabricated machines, under memcheck, under a
system-call audit, and with its system calls failing.

Every check runs in fresh network and mount namespaces, built with the
helpers of the system tests. The expected listing comes from a model of the
probe pass written here in Python over the fabricated tree, and each machine
also states by hand how many rows it must give, so that the model and the
fabrication are checked too.

  machines   hostile machines (10,000 USB entries, 100 MB attribute files,
             garbage class files, dangling and looping links, address files
             without newline or full of NUL bytes, 1 MB ifconfig lines):
             right table, exit status 0, peak memory below a bound
  memcheck   valgrind on the listing of fabricated machines and on
             --generate: no error, nothing definitely or indirectly lost
  audit      strace on the listing: every file opened read-only, writes only
             to standard output, no process but /bin/sh -c "/sbin/ifconfig -a"
             (which then starts /sbin/ifconfig), and that only when sysfs
             accepted no interface
  faults     on a machine using the command fallback and the USB probe,
             each system call hwidtool makes after start-up fails in turn,
             with errors that call can give (strace's fault injection): no
             death by a signal, no row a clean run does not print, status 0,
             or status 1 and "hwidtool: write error: REASON" exactly when
             output was lost; the three commands into /dev/full and into a
             closed standard output give status 1 and that message, and the
             same bytes as before into a pipe and into a file

Usage: hostile.py --binary PATH [--no-memory-bound] CHECK...
Prints one line per case and "N passed, M failed"; exit status 0 all passed,
1 a failure (a tool missing or namespaces refused too), 77 skipped (not root).
"""

import argparse
import concurrent.futures
import errno
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
import machines as m  # noqa: E402  (the fabricated-machine helpers)

SKIP = 77
MB = 1024 * 1024
BIG = 100 * MB
NET = "/sys/class/net"
# The plain binary stays near 4 MB whatever the machine holds; anything that
# read a 100 MB file or a 1 MB line whole would pass this bound at once.
PEAK_LIMIT_KB = 16 * 1024


# ------------------------------------------------------------------ model --

def read_at_most(path, limit):
    """Up to `limit` bytes of `path`, or None when it cannot be opened/read."""
    try:
        with open(path, "rb", buffering=0) as f:
            data = b""
            while len(data) < limit:
                chunk = f.read(limit - len(data))
                if not chunk:
                    break
                data += chunk
            return data
    except OSError:
        return None


def quickread(path):
    data = read_at_most(path, 1025)
    if not data:
        return b""
    end = data.find(b"\n")
    end = len(data) if end < 0 else end
    if end > 1023:
        return b""
    return data[:end].split(b"\0", 1)[0]


def is_mass_storage(path):
    """First word of the class file is 08; reads like the probe, bounded."""
    try:
        with open(path, "rb", buffering=0) as f:
            word = b""
            while True:
                chunk = f.read(65536)
                if not chunk:
                    break
                if not word:
                    chunk = chunk.lstrip(b" \t\n\v\f\r")
                for byte in chunk:
                    if byte in b" \t\n\v\f\r":
                        return word == b"08"
                    word += bytes([byte])
                    if len(word) > 2:
                        return False
            return word == b"08"
    except OSError:
        return False


def accept(name, address):
    return (len(address) == 12 and address != b"0" * 12 and
            not name.startswith((b"veth", b"br-", b"docker")))


def sysfs_rows():
    rows = []
    try:
        names = os.listdir(NET.encode())
    except OSError:
        return rows
    for name in names:
        if name.startswith(b"."):
            continue
        data = read_at_most(NET.encode() + b"/" + name + b"/address", 29)
        if not data or data[0] == 0:
            continue
        newline = data.find(b"\n")
        piece = data if newline < 0 else data[:newline + 1]
        address = piece.split(b"\0", 1)[0].strip().replace(b":", b"").upper()
        if accept(name, address):
            rows.append((b"NIC", address, name))
    return rows


def ifconfig_rows(output):
    rows = []
    pos = 0
    while pos < len(output):
        newline = output.find(b"\n", pos)
        end = len(output) if newline < 0 else newline + 1
        end = min(end, pos + 4095)
        line = output[pos:end].split(b"\0", 1)[0]
        pos = end
        if b"HWaddr" not in line or b"Ethernet" not in line:
            continue
        fields = line.strip().split(b" ")
        if len(fields) < 3:
            continue
        address = fields[-1].replace(b":", b"").upper()
        if accept(fields[0], address):
            rows.append((b"NIC", address, fields[0]))
    return rows


def usb_rows():
    rows = []
    try:
        entries = os.listdir(m.USB_DEVICES.encode())
    except OSError:
        return rows
    for entry in entries:
        base = m.USB_DEVICES.encode() + b"/" + entry + b"/"
        if not is_mass_storage(base + b"bInterfaceClass"):
            continue
        serial = quickread(base + b"../serial")
        if serial:
            comment = quickread(base + b"../manufacturer") + b" - " + quickread(base + b"../product")
            rows.append((b"USB", serial, comment))
    return rows


def expected_listing(ifconfig_output):
    rows = sysfs_rows()
    fallback = not rows
    if fallback and ifconfig_output is not None:
        rows = ifconfig_rows(ifconfig_output)
    rows += usb_rows()
    return m.listing(rows), rows, fallback


# ------------------------------------------------------------- fabricating --

def write(path, content):
    m.write(path, content)


def write_big(path, head, fill, size, tail=b""):
    """A file of about `size` bytes: head, `fill` repeated, tail."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    block = fill * (MB // len(fill))
    with open(path, "wb") as f:
        f.write(head)
        written = len(head)
        while written < size:
            f.write(block)
            written += len(block)
        f.write(tail)


def net_from_interfaces(interfaces):
    m.add_interfaces(m.Machine("x", interfaces=interfaces), shutil.which("ip") or "/sbin/ip")
    m.run("mount", "-t", "sysfs", "sysfs", "/sys")


def net_from_files(entries):
    """A tmpfs over /sys/class/net: real interfaces always have a proper
    address file, so arbitrary content needs a tree of its own."""
    m.run("mount", "-t", "sysfs", "sysfs", "/sys")
    m.run("mount", "-t", "tmpfs", "tmpfs", NET)
    for name, content in entries:
        directory = os.path.join(NET.encode(), name)
        os.makedirs(directory, exist_ok=True)
        path = os.path.join(directory, b"address")
        if callable(content):
            content(path)
        elif content is not None:
            write(path, content)


def usb_dir(device):
    return os.path.join(m.PCI_ROOT if os.path.isdir(m.PCI_ROOT) else "/sys/bus/.devices",
                        m.HOST_USB, device)


def one_nic():
    net_from_interfaces([("tap", "tap0", "0a:1b:2c:3d:4e:5f", None)])


def machine_usb_10000():
    one_nic()
    devices = []
    for i in range(4999):
        name = "1-%d" % (i + 1)
        mass_storage = i % 7 == 0
        devices.append(m.UsbDevice(
            name, b"SER%05d\n" % i if i % 5 else None, b"Maker %d\n" % (i % 13),
            b"Product %d\n" % i, [(name + ":1.0", b"08\n" if mass_storage else b"03\n")]))
    m.lay_out_usb(devices)
    # usb1, 4999 devices, 4999 interfaces and one stray entry: 10,000.
    os.symlink("nowhere", os.path.join(m.USB_DEVICES, "stray"))
    m.install_ifconfig(None)
    assert len(os.listdir(m.USB_DEVICES)) == 10000
    return None


def machine_huge_attributes():
    one_nic()
    m.lay_out_usb([
        m.UsbDevice("1-1", None, None, b"Prod\n", [("1-1:1.0", b"08\n")]),
        m.UsbDevice("1-2", None, b"Maker\n", b"Prod\n", [("1-2:1.0", b"08\n")]),
        m.UsbDevice("1-3", b"CSER\n", b"Maker\n", b"Prod\n", [("1-3:1.0", b"08\n")]),
        m.UsbDevice("1-4", b"DSER\n", None, None, [("1-4:1.0", b"08\n")]),
        m.UsbDevice("1-5", None, b"Maker\n", b"Prod\n", [("1-5:1.0", b"08\n")]),
    ])
    d1, d2, d3, d4, d5 = (usb_dir("1-%d" % i) for i in range(1, 6))
    # Serial line followed by 100 MB; manufacturer 100 MB without a newline.
    write_big(os.path.join(d1, "serial"), b"BIGSER\n", b"A", BIG)
    write_big(os.path.join(d1, "manufacturer"), b"", b"M", BIG)
    # A serial of 100 MB on one line: too long, so no record.
    write_big(os.path.join(d2, "serial"), b"", b"S", BIG, b"\n")
    # Class "08" glued to 100 MB of text: the word is not 08.
    write_big(os.path.join(d3, "1-3:1.0", "bInterfaceClass"), b"08", b"x", BIG, b"\n")
    # 100 MB of white space before the word; a product line of 100 MB.
    write_big(os.path.join(d4, "1-4:1.0", "bInterfaceClass"), b"", b" \n\t", BIG, b"08\n")
    write_big(os.path.join(d4, "product"), b"", b"P", BIG, b"\n")
    write_big(os.path.join(d4, "manufacturer"), b"", b"\n", BIG)
    # Class file of 100 MB of "08\n" lines and a serial of 100 MB of NULs.
    write_big(os.path.join(d5, "1-5:1.0", "bInterfaceClass"), b"", b"08\n", BIG)
    write_big(os.path.join(d5, "serial"), b"", b"\0", BIG)
    m.install_ifconfig(None)
    return None


def machine_garbage_class():
    one_nic()
    rng = random.Random(20261207)
    garbage = [bytes(rng.randrange(256) for _ in range(4096)) for _ in range(6)]
    garbage.append(b"\x00\x08\n")
    garbage.append(b"\xff\xfe0\x008\n")
    garbage.append(b"0\x008\n")
    devices = [m.UsbDevice("1-%d" % (i + 1), b"G%d\n" % i, b"Junk\n", b"Class\n",
                           [("1-%d:1.0" % (i + 1), g)]) for i, g in enumerate(garbage)]
    devices.append(m.stick("2-1", b"GOOD0001\n", b"Real\n", b"Stick\n"))
    m.lay_out_usb(devices)
    m.install_ifconfig(None)
    return None


def machine_bad_links():
    one_nic()
    m.lay_out_usb([
        m.stick("1-1", b"GOOD0001\n", b"Real\n", b"Stick\n"),
        m.UsbDevice("1-2", None, b"Maker\n", b"Prod\n", [("1-2:1.0", b"08\n")]),
        m.UsbDevice("1-3", None, None, None, [("1-3:1.0", b"08\n")]),
        m.UsbDevice("1-4", b"ZERO0001\n", None, None, []),
        m.UsbDevice("1-5", None, b"Maker\n", b"Prod\n", [("1-5:1.0", b"08\n")]),
    ])
    devices = m.USB_DEVICES
    os.symlink("../../../devices/gone", os.path.join(devices, "dangling"))
    os.symlink("loop-b", os.path.join(devices, "loop-a"))
    os.symlink("loop-a", os.path.join(devices, "loop-b"))
    os.symlink("self", os.path.join(devices, "self"))
    os.symlink("/dev/zero", os.path.join(devices, "zero"))
    # Serial, manufacturer and product of 1-2 point nowhere or in a loop.
    d2 = usb_dir("1-2")
    os.remove(os.path.join(d2, "manufacturer"))
    os.symlink("gone", os.path.join(d2, "serial"))
    os.symlink("manufacturer", os.path.join(d2, "manufacturer"))
    # 1-3: attributes that read forever or are directories.
    d3 = usb_dir("1-3")
    os.symlink("/dev/zero", os.path.join(d3, "serial"))
    os.makedirs(os.path.join(d3, "manufacturer"))
    # 1-4: an interface whose class file is /dev/zero, and one whose class
    # file is a directory; the serial would be valid.
    d4 = usb_dir("1-4")
    for interface, make in (("1-4:1.0", lambda p: os.symlink("/dev/zero", p)),
                            ("1-4:1.1", os.makedirs)):
        os.makedirs(os.path.join(d4, interface))
        make(os.path.join(d4, interface, "bInterfaceClass"))
        os.symlink("../../../devices/pci0000:00/%s/1-4/%s" % (m.HOST_USB, interface),
                   os.path.join(devices, interface))
    # 1-5: the serial is a link to a good serial elsewhere, product loops.
    d5 = usb_dir("1-5")
    os.symlink("../1-1/serial", os.path.join(d5, "serial"))
    os.remove(os.path.join(d5, "product"))
    os.symlink("product", os.path.join(d5, "product"))
    m.install_ifconfig(None)
    return None


def machine_address_files():
    rng = random.Random(7)

    def huge(path):
        write_big(path, b"02:00:00:00:00:01", b"x", BIG)

    def huge_line(path):
        write_big(path, b"   0a:0b:0c:0d:0e:0f   \n", b"y", BIG)

    entries = [
        (b"nonl0", b"00:1a:2b:3c:4d:5e"),
        (b"nul0", b"\0" * 4096),
        (b"nul1", b"00:1a:2b:3c:4d:5f\0\0\0garbage\n"),
        (b"nul2", b"\0" + b"00:1a:2b:3c:4d:60\n"),
        (b"huge0", huge),
        (b"huge1", huge_line),
        (b"garbage0", bytes(rng.randrange(256) for _ in range(512))),
        (b"cr0", b"00:1a:2b:3c:4d:61\r\n"),
        (b"ib0", b"80:00:02:08:fe:80:00:00:00:00:00:00:00:11:22:33:44:55:66:77\n"),
        (b"empty0", b""),
        (b"nl0", b"\n"),
        (b"zero0", lambda p: os.symlink("/dev/zero", p)),
        (b"loop0", lambda p: os.symlink("address", p)),
        (b"dir0", lambda p: os.makedirs(p)),
        (b"noaddr0", None),
        (b"veth9", b"00:1a:2b:3c:4d:62\n"),
        (b".hidden", b"00:1a:2b:3c:4d:63\n"),
        (b"evil\x1b[31m\nname", b"00:1a:2b:3c:4d:64\n"),
        (b"nocolon0", b"001a2b3c4d65"),
    ]
    net_from_files(entries)
    m.lay_out_usb(None)
    m.install_ifconfig(b"eth9 Link encap:Ethernet HWaddr 00:99:99:99:99:99\n")
    return None


def big_ifconfig_output():
    good = b"eth7 Link encap:Ethernet HWaddr 00:1a:2b:3c:4d:77"
    out = b"x" * MB + b"\n"                                   # a 1 MB line
    out += b"A" * (4095 - len(good)) + good + b"y" * MB + b"\n"  # ends a piece
    out += good + b" " * (4095 - len(good)) + b"z" * MB + b"\n"  # starts a piece
    out += b"eth8 Link encap:Ethernet HWaddr " + b"0" * MB + b"\n"
    out += b"HWaddr Ethernet \0 " * 60000 + b"\n"
    out += bytes(random.Random(3).randrange(256) for _ in range(MB))
    out += b"\neth0      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:5e  \n"
    return out


def machine_ifconfig_1mb():
    net_from_interfaces([])  # only the loopback interface: fallback
    m.lay_out_usb(None)
    m.install_ifconfig(big_ifconfig_output())
    return big_ifconfig_output()


# name, fabrication, hand-counted NIC rows, USB rows, fallback expected
MACHINES = [
    ("usb-10000", machine_usb_10000, 1, 572, False),
    ("huge-attributes", machine_huge_attributes, 1, 2, False),
    ("garbage-class", machine_garbage_class, 1, 1, False),
    ("bad-links", machine_bad_links, 1, 2, False),
    ("address-files", machine_address_files, 6, 0, False),
    ("ifconfig-1mb", machine_ifconfig_1mb, 3, 0, True),
]


# ------------------------------------------------------------------ checks --

def ran_fallback():
    return os.path.exists(os.path.join(os.path.realpath("/sbin"), "ifconfig.ran"))


def peak_kb(report):
    found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", report)
    return int(found.group(1)) if found else -1


def check_machine(name, binary, memory_bound):
    _, fabricate, nics, usbs, fallback = next(x for x in MACHINES if x[0] == name)
    output = fabricate()
    expected, rows, model_fallback = expected_listing(output)
    failures = []
    counted = (sum(r[0] == b"NIC" for r in rows), sum(r[0] == b"USB" for r in rows))
    if counted != (nics, usbs) or model_fallback != fallback:
        failures.append("fabrication: model gives %d NIC, %d USB rows, fallback %s"
                        % (counted + (model_fallback,)))
    with tempfile.NamedTemporaryFile("r") as report:
        result = subprocess.run(["/usr/bin/time", "-v", "-o", report.name, binary],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        peak = peak_kb(report.read())
    if result.returncode != 0:
        failures.append("exit status %d, stderr %r" % (result.returncode, result.stderr[-2000:]))
    if result.stdout != expected:
        failures.append("stdout differs: expected %d bytes %r..., got %d bytes %r..."
                        % (len(expected), expected[:600], len(result.stdout),
                           result.stdout[:600]))
    if ran_fallback() != fallback:
        failures.append("ifconfig %s" % ("ran" if ran_fallback() else "did not run"))
    if memory_bound and not 0 < peak <= PEAK_LIMIT_KB:
        failures.append("peak memory %d kB, bound %d kB" % (peak, PEAK_LIMIT_KB))
    return failures, {"peak_kb": peak, "rows": len(rows)}


# memcheck: the listing on two machines (sysfs, and the command fallback) and
# the hashing command.
MEMCHECK_CASES = ["memcheck-sysfs", "memcheck-fallback", "memcheck-generate"]


def fabricate_zoo(fallback):
    if fallback:
        net_from_interfaces(m.REJECTED_ONLY)
    else:
        net_from_interfaces([("tap", "tap0", "0a:1b:2c:3d:4e:5f", None),
                             ("bridge", "br0", "02:11:22:33:44:55", None)])
    m.lay_out_usb(m.usb_zoo())
    m.install_ifconfig(m.OLD_IFCONFIG)
    return m.OLD_IFCONFIG


def valgrind_summary(log):
    keep = ("ERROR SUMMARY", "definitely lost", "indirectly lost", "in use at exit",
            "All heap blocks were freed")
    lines = [re.sub(r"^==\d+== ", "", l) for l in log.splitlines()]
    return [l for l in lines if any(k in l for k in keep)]


def check_memcheck(name, binary):
    args = [binary]
    expected = None
    if name == "memcheck-generate":
        args += ["--generate", "4C530001230918103512 \x1b"]
        expected = (b"\n4C530001230918103512 \x1b: " +
                    m.hardware_id(b"4C530001230918103512 \x1b") + b"\n\n")
    else:
        output = fabricate_zoo(name == "memcheck-fallback")
        expected = expected_listing(output)[0]
    with tempfile.NamedTemporaryFile("r") as log:
        result = subprocess.run(
            ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
             "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
             "--track-fds=no", "--log-file=" + log.name] + args,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        text = log.read()
    summary = valgrind_summary(text)
    failures = []
    if result.returncode != 0:
        failures.append("valgrind status %d:\n%s" % (result.returncode, text[-4000:]))
    if result.stdout != expected:
        failures.append("stdout differs under valgrind")
    if not any("ERROR SUMMARY: 0 errors" in l for l in summary):
        failures.append("errors reported: %s" % summary)
    for kind in ("definitely lost", "indirectly lost"):
        for line in summary:
            if kind in line and not re.search(kind + r": 0 bytes in 0 blocks", line):
                failures.append(line)
    return failures, {"valgrind": summary}


# The audit: strace -ff writes one file per process, so each process's calls
# can be judged on their own.
AUDIT_CASES = ["audit-sysfs", "audit-fallback"]
TRACED = ("execve,execveat,fork,vfork,clone,clone3,open,openat,openat2,creat,"
          "write,writev,pwrite64,pwritev,pwritev2,sendto,sendmsg,sendmmsg,socket,"
          "connect,mkdir,mkdirat,unlink,unlinkat,rmdir,rename,renameat,renameat2,"
          "link,linkat,symlink,symlinkat,chmod,fchmod,fchmodat,chown,fchown,fchownat,"
          "lchown,truncate,ftruncate,mknod,mknodat,utimensat,setxattr,mount,ptrace")
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|\?)")
WRITING_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND", "O_TMPFILE")
FORBIDDEN = {"creat", "sendto", "sendmsg", "sendmmsg", "socket", "connect", "mkdir",
             "mkdirat", "unlink", "unlinkat", "rmdir", "rename", "renameat", "renameat2",
             "link", "linkat", "symlink", "symlinkat", "chmod", "fchmod", "fchmodat",
             "chown", "fchown", "fchownat", "lchown", "truncate", "ftruncate", "mknod",
             "mknodat", "utimensat", "setxattr", "mount", "ptrace", "execveat"}
SPAWNS = {"fork", "vfork", "clone", "clone3"}
SHELL_EXEC = 'execve("/bin/sh", ["sh", "-c", "/sbin/ifconfig -a"]'
COMMAND_EXEC = 'execve("/sbin/ifconfig", ["/sbin/ifconfig", "-a"]'


def parse_trace(path):
    calls = []
    with open(path, errors="replace") as f:
        for line in f:
            found = CALL.match(line)
            if found:
                calls.append((found.group(1), found.group(2), found.group(3), line.rstrip()))
    return calls


def opened_path(arguments):
    found = re.search(r'"((?:[^"\\]|\\.)*)"', arguments)
    return found.group(1) if found else "?"


def judge_process(calls, role, failures, opened):
    """role: "program" (hwidtool itself), "child" (what popen started, until
    it has become the shell) or "shell" (the shell and its children). Returns
    the pids that this process started, and whether it ran the command."""
    children = []
    for number, (call, arguments, result, line) in enumerate(calls):
        if call == "execve":
            if role == "program" and number == 0:
                continue
            if role == "child" and number == 0 and line.startswith(SHELL_EXEC):
                role = "shell"
                continue
            if role == "shell" and line.startswith(COMMAND_EXEC):
                return children, True  # from here on it is the command's business
            failures.append("%s ran: %s" % (role, line))
        elif call in SPAWNS:
            if result.isdigit() and int(result) > 0:
                children.append(int(result))
        elif call in ("open", "openat", "openat2"):
            if any(flag in arguments for flag in WRITING_FLAGS):
                failures.append("%s opened for writing: %s" % (role, line))
            if role == "program" and not result.startswith("-"):
                opened.add(opened_path(arguments))
        elif call in ("write", "writev", "pwrite64", "pwritev", "pwritev2"):
            if role != "program" or not arguments.startswith("1,"):
                failures.append("%s wrote: %s" % (role, line[:200]))
        elif call in FORBIDDEN:
            failures.append("%s called: %s" % (role, line[:200]))
    if role == "child":
        failures.append("popen's child never ran the shell")
    return children, False


def loader_file(path):
    return path == "/etc/ld.so.cache" or re.search(r"/lib[^/]*\.so(\.\d+)*$", path)


def check_audit(name, binary):
    fallback = name == "audit-fallback"
    output = fabricate_zoo(fallback)
    expected = expected_listing(output)[0]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        prefix = os.path.join(folder, "trace")
        result = subprocess.run(["strace", "-ff", "-qq", "-v", "-s", "256", "-o", prefix,
                                 "-e", "trace=" + TRACED, binary],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        traces = {int(f.rsplit(".", 1)[1]): os.path.join(folder, f) for f in os.listdir(folder)}
        if result.stdout != expected:
            failures.append("stdout differs under strace")
        program = min(traces)
        opened = set()
        queue = [(program, "program")]
        seen = set()
        commands = 0
        spawned = 0
        while queue:
            pid, role = queue.pop(0)
            seen.add(pid)
            if pid not in traces:
                failures.append("no trace of process %d" % pid)
                continue
            children, ran = judge_process(parse_trace(traces[pid]), role, failures, opened)
            commands += ran
            if role == "program":
                spawned += len(children)
            queue += [(child, "child" if role == "program" else "shell") for child in children]
        unaccounted = set(traces) - seen
        # Processes the command itself started are its own; anything else is not.
        if commands == 0 and unaccounted:
            failures.append("processes outside the audit: %s" % sorted(unaccounted))
    if fallback and (spawned != 1 or commands != 1):
        failures.append("expected one shell running the command once, got %d processes "
                        "and %d commands" % (spawned, commands))
    if not fallback and (spawned or commands):
        failures.append("a process was started although sysfs accepted interfaces")
    outside = sorted(p for p in opened if not p.startswith("/sys/") and not loader_file(p))
    if outside:
        failures.append("opened outside sysfs: %s" % outside)
    return failures, {"opened": len(opened), "processes": spawned}


# faults: the system calls hwidtool makes fail one at a time, under strace.
# Only hwidtool is traced and failed: a failure in the stand-in ifconfig it
# starts only shortens that command's output, which the fallback machines
# cover already.
FAULT_CASES = ["faults-injected", "faults-full"]
# Errors each call can really give; any other call gets FAULT_DEFAULT.
FAULT_ERRORS = {
    "read": ("EIO", "EINTR"), "pread64": ("EIO", "EINTR"), "readv": ("EIO", "EINTR"),
    "write": ("EIO", "ENOSPC", "EINTR"), "writev": ("EIO", "ENOSPC", "EINTR"),
    "open": ("EACCES", "EMFILE", "ENOMEM"), "openat": ("EACCES", "EMFILE", "ENOMEM"),
    "close": ("EIO", "ENOSPC"),
    "mmap": ("ENOMEM",), "munmap": ("ENOMEM",), "mremap": ("ENOMEM",),
    "mprotect": ("ENOMEM", "EACCES"),
    "newfstatat": ("EACCES", "ENOMEM"), "fstat": ("EIO", "ENOMEM"),
    "statx": ("EACCES", "ENOMEM"),
    "getdents64": ("EIO", "ENOMEM"), "access": ("EACCES", "EIO"),
    "faccessat2": ("EACCES", "EIO"),
    "pipe2": ("EMFILE", "ENFILE"), "dup2": ("EBADF", "EMFILE"), "dup3": ("EBADF", "EMFILE"),
    "clone": ("EAGAIN", "ENOMEM"), "clone3": ("EAGAIN", "ENOMEM"), "vfork": ("EAGAIN", "ENOMEM"),
    "wait4": ("EINTR", "ECHILD"),
    "getrandom": ("EINTR", "ENOSYS"), "ioctl": ("ENOTTY", "EIO"), "lseek": ("ESPIPE", "EIO"),
    "fcntl": ("EBADF", "EINVAL"), "prlimit64": ("EPERM", "EINVAL"),
    "rt_sigaction": ("EINVAL",), "rt_sigprocmask": ("EINVAL",),
}
FAULT_DEFAULT = ("EIO", "ENOMEM")
# Failures the kernel never gives, which strace's (the call skipped, an error
# returned) would turn into faults of the test: execve and the exit calls have
# no failure a running program meets; a real brk reports failure by returning
# the old break, and glibc takes an injected -ENOMEM for a break at a wild
# address (mmap's ENOMEM is the program running out of memory); a futex wake
# on a valid word cannot fail, and glibc stops the program if it does.
NOT_FAILED = {"execve", "exit_group", "exit", "brk", "futex"}
# close frees the descriptor even when it reports an error; a skipped close
# leaves it open, and popen's write end left open in the reader hangs it for
# ever. Only the close of standard output is failed: its error is the last
# word on the output, and the descriptor ends with the process anyway.
OUTPUT_CLOSE = "close(1)"
# A failure of these on descriptor 1 loses output the program meant to give.
OUTPUT_CALL = re.compile(r"^(write|writev|pwrite64|pwritev|pwritev2|close)\(1[,)]")
DISK_FULL = b"hwidtool: write error: No space left on device\n"
CLOSED = b"hwidtool: write error: Bad file descriptor\n"
GENERATE_ABC = b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"


def fabricate_faults():
    """The zoo on the command fallback, with enough interfaces in the
    command's output that the listing takes several 4096-byte writes and the
    pipe several reads."""
    net_from_interfaces(m.REJECTED_ONLY)
    m.lay_out_usb(m.usb_zoo())
    output = m.OLD_IFCONFIG + b"".join(
        b"fx%d      Link encap:Ethernet  HWaddr 02:00:00:00:%02x:%02x  \n" % (i, i >> 8, i & 255)
        for i in range(1, 161))
    m.install_ifconfig(output)
    return output


def stack_calls(path):
    """(call, line, stack frames) of each call in one file of strace -k."""
    calls = []
    with open(path, errors="replace") as f:
        for line in f:
            if line.startswith(" > ") and calls:
                # "OBJECT(SYMBOL+OFFSET) [OFFSET IN OBJECT]": the same place in every run.
                calls[-1][2].append(line[3:].strip())
                continue
            found = re.match(r"^(\w+)\(", line)
            if found:
                calls.append((found.group(1), line.rstrip(), []))
    return calls


def in_loader(frame):
    return re.match(r"^\S*/ld-[^/(]*\.so[^/(]*\(", frame) is not None


def traced_clean(binary, folder):
    """hwidtool's own calls (with their stacks) from a clean strace -ff run,
    and the kinds of call made by the processes it started."""
    prefix = os.path.join(folder, "clean")
    result = subprocess.run(["strace", "-ff", "-qq", "-k", "-o", prefix, binary],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120)
    own, started = [], set()
    for name in os.listdir(folder):
        if name.startswith("clean."):
            calls = stack_calls(os.path.join(folder, name))
            if calls and calls[0][1].startswith('execve("%s"' % binary):
                own = calls
            else:
                started.update(call for call, _, _ in calls)
    return result, own, started


def fault_targets(calls):
    """kind -> the numbers N (as strace's when=N counts them) of the calls to
    fail: every call the program makes after start-up, since the same place
    can fail differently at another moment (a pipe read in mid-line, the
    last buffer of the listing). The loader's calls are left alone: failing
    them tests ld.so, which ends the run before main."""
    counted, targets = {}, {}
    for call, line, frames in calls:
        counted[call] = counted.get(call, 0) + 1
        if call in NOT_FAILED or all(in_loader(frame) for frame in frames):
            continue
        if call == "close" and not line.startswith(OUTPUT_CLOSE):
            continue
        targets.setdefault(call, []).append(counted[call])
    return targets


def inject(binary, call, error, when, folder):
    """One run with the when-th `call` failing with `error`: (result or None
    when it hung, the lines strace marked as injected)."""
    trace = os.path.join(folder, "%s-%s-%d" % (call, error, when))
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
        return None, []
    result = subprocess.CompletedProcess(process.args, process.returncode, out, err)
    with open(trace, errors="replace") as f:
        return result, [line.rstrip() for line in f if "(INJECTED)" in line]


def unread_string_lines():
    """Each USB row as it shows when its manufacturer, its product or both
    could not be read, mapped to the row a clean run prints. An attribute
    that cannot be read reads as empty (as quickread above has it), the same
    as for a device without that string: the Hardware ID stays, words go."""
    shown = {}
    for entry in os.listdir(m.USB_DEVICES.encode()):
        base = m.USB_DEVICES.encode() + b"/" + entry + b"/"
        serial = quickread(base + b"../serial")
        if not serial or not is_mass_storage(base + b"bInterfaceClass"):
            continue
        maker, product = quickread(base + b"../manufacturer"), quickread(base + b"../product")
        clean = m.table_line(b"USB", m.hardware_id(serial),
                             m.shown_comment(maker + b" - " + product))
        for words in ((b"", product), (maker, b""), (b"", b"")):
            line = m.table_line(b"USB", m.hardware_id(serial),
                                m.shown_comment(words[0] + b" - " + words[1]))
            shown[line] = clean
    return shown


def stray_line(out, clean, unread):
    """The first line of `out` that is not next in order among `clean`'s
    lines (rows may be missing, none added or moved), or None."""
    lines = iter(clean.splitlines(True))
    for line in out.splitlines(True):
        if not any(unread.get(line, line) == candidate for candidate in lines):
            return line
    return None


def shown_call(line):
    """The injected call with its strings left out, which is enough to tell
    which call it was and keeps a report line short."""
    return re.sub(r'"(?:[^"\\]|\\.)*"(\.\.\.)?', '"..."', line)[:120]


def judge_fault(result, injected, clean, unread, error):
    if result is None:
        return ["no end within 60 s"]
    if not injected:
        return ["the call was never made: the run differs from the clean one"]
    if result.returncode < 0:
        return ["killed by signal %d, stderr %r" % (-result.returncode, result.stderr[-400:])]
    problems = []
    if OUTPUT_CALL.match(injected[0]):
        want = ("hwidtool: write error: %s\n" % os.strerror(getattr(errno, error))).encode()
        if result.returncode != 1 or result.stderr != want:
            problems.append("output lost (%s): status %d, stderr %r; wanted status 1, %r"
                            % (shown_call(injected[0]), result.returncode, result.stderr[-400:],
                               want))
        if not clean.startswith(result.stdout):
            problems.append("stdout is not a beginning of the clean listing: %d bytes, %r..."
                            % (len(result.stdout), result.stdout[-200:]))
    else:
        if result.returncode != 0 or result.stderr:
            problems.append("status %d, stderr %r (%s)"
                            % (result.returncode, result.stderr[-400:], shown_call(injected[0])))
        stray = stray_line(result.stdout, clean, unread)
        if stray is not None:
            problems.append("a line no clean run prints: %r" % stray[:200])
    return problems


def check_faults_injected(binary):
    output = fabricate_faults()
    expected = expected_listing(output)[0]
    clean = subprocess.run([binary], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
    if clean.returncode != 0 or clean.stderr or clean.stdout != expected:
        return ["clean run: status %d, stderr %r, stdout %s the model's"
                % (clean.returncode, clean.stderr[-400:],
                   "equals" if clean.stdout == expected else "differs from")], {}
    with tempfile.TemporaryDirectory() as folder:
        traced, calls, started = traced_clean(binary, folder)
        if traced.returncode != 0 or traced.stdout != expected:
            same = "equals" if traced.stdout == expected else "differs from"
            return ["clean run under strace -k: status %d, stdout %s the model's"
                    % (traced.returncode, same)], {}
        if not any(frames for _, _, frames in calls):
            return ["strace -k gave no stacks for hwidtool's calls"], {}
        targets = fault_targets(calls)
        unread = unread_string_lines()
        runs = [(call, error, when) for call in sorted(targets) for when in targets[call]
                for error in FAULT_ERRORS.get(call, FAULT_DEFAULT)]
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
            outcomes = list(pool.map(lambda run: inject(binary, *run, folder), runs))
    failures = []
    for (call, error, when), (result, injected) in zip(runs, outcomes):
        for problem in judge_fault(result, injected, expected, unread, error):
            failures.append("%s error=%s when=%d: %s" % (call, error, when, problem))
    return failures, {"runs": len(runs), "kinds": sorted(targets), "started": sorted(started)}


def check_faults_full(binary):
    """/dev/full and a closed standard output for each command, and the
    same commands' bytes through a pipe and into a file."""
    expected_list = expected_listing(fabricate_faults())[0]
    commands = [([], expected_list), (["--generate", "abc"], GENERATE_ABC),
                (["-h"], m.usage(binary.encode()))]
    failures = []
    for args, want in commands:
        shown = " ".join([os.path.basename(binary)] + args)
        with open("/dev/full", "wb") as full:
            result = subprocess.run([binary] + args, stdout=full, stderr=subprocess.PIPE,
                                    timeout=60)
        if result.returncode != 1 or result.stderr != DISK_FULL:
            failures.append("%s > /dev/full: status %d, stderr %r"
                            % (shown, result.returncode, result.stderr))
        result = subprocess.run(["sh", "-c", 'exec "$0" "$@" >&-', binary] + args,
                                stderr=subprocess.PIPE, timeout=60)
        if result.returncode != 1 or result.stderr != CLOSED:
            failures.append("%s >&-: status %d, stderr %r"
                            % (shown, result.returncode, result.stderr))
        with tempfile.TemporaryFile() as into:
            to_file = subprocess.run([binary] + args, stdout=into, stderr=subprocess.PIPE,
                                     timeout=60)
            into.seek(0)
            written = into.read()
        piped = subprocess.run([binary] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               timeout=60)
        for way, result, out in (("a file", to_file, written), ("a pipe", piped, piped.stdout)):
            if result.returncode != 0 or result.stderr or out != want:
                failures.append("%s into %s: status %d, stderr %r, %d bytes%s"
                                % (shown, way, result.returncode, result.stderr, len(out),
                                   "" if out == want else " that differ"))
    return failures, {}


# -------------------------------------------------------------------- main --

def inside(args):
    if args.inside in MEMCHECK_CASES:
        failures, facts = check_memcheck(args.inside, args.binary)
    elif args.inside in AUDIT_CASES:
        failures, facts = check_audit(args.inside, args.binary)
    elif args.inside == "faults-injected":
        failures, facts = check_faults_injected(args.binary)
    elif args.inside == "faults-full":
        failures, facts = check_faults_full(args.binary)
    else:
        failures, facts = check_machine(args.inside, args.binary, args.memory_bound)
    for failure in failures:
        print("  " + failure)
    with open(args.facts, "w") as f:
        json.dump(facts, f)
    return 1 if failures else 0


def cases_for(check):
    if check == "machines":
        return [x[0] for x in MACHINES]
    return {"memcheck": MEMCHECK_CASES, "audit": AUDIT_CASES, "faults": FAULT_CASES}[check]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--no-memory-bound", dest="memory_bound", action="store_false",
                        help="for sanitizer builds, whose memory use is their own")
    parser.add_argument("--inside", help=argparse.SUPPRESS)
    parser.add_argument("--facts", help=argparse.SUPPRESS)
    parser.add_argument("checks", nargs="*",
                        default=["machines", "memcheck", "audit", "faults"])
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)
    if args.inside:
        return inside(args)

    stop = m.what_stops_fabrication()
    if stop:
        status, reason = stop
        print("%s %s: %s" % ("SKIP" if status == SKIP else "FAIL", " ".join(args.checks), reason))
        return status
    tools = {"machines": "/usr/bin/time", "memcheck": "valgrind", "audit": "strace",
             "faults": "strace"}
    passed = failed = 0
    for check in args.checks:
        if not shutil.which(tools[check]):
            print("FAIL %s: %s is missing after the install step" % (check, tools[check]))
            failed += 1
            continue
        for case in cases_for(check):
            with tempfile.NamedTemporaryFile("r") as facts:
                command = ["unshare", "-nm", "--propagation", "private", sys.executable,
                           os.path.abspath(__file__), "--binary", args.binary,
                           "--inside", case, "--facts", facts.name]
                if not args.memory_bound:
                    command.append("--no-memory-bound")
                status = subprocess.run(command + [check]).returncode
                text = facts.read()
            details = json.loads(text) if text else {}
            ok = status == 0
            note = ""
            if "peak_kb" in details:
                note = " (peak %d kB, %d rows)" % (details["peak_kb"], details["rows"])
            elif "valgrind" in details:
                note = "\n      " + "\n      ".join(details["valgrind"])
            elif "opened" in details:
                note = " (%d files opened, %d processes started)" % (
                    details["opened"], details["processes"])
            elif "runs" in details:
                note = " (%d runs, %d kinds of call failed in turn: %s; %d kinds in the " \
                       "processes it starts, not failed)" % (
                           details["runs"], len(details["kinds"]), " ".join(details["kinds"]),
                           len(details["started"]))
            print("%s %s %s%s" % ("ok  " if ok else "FAIL", check, case, note))
            passed += ok
            failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    if failed or not passed:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
