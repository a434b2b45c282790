#!/usr/bin/env python3
"""Runs the real hwidtool, with its fixed paths, on fabricated machines.

Each machine lives in fresh network and mount namespaces: bridges, taps and
veth pairs with chosen hardware addresses, sysfs mounted anew, a USB tree on
tmpfs laid out as the kernel lays it out, and a stand-in /sbin/ifconfig. The
expected listing is computed here, independently of the program, with
hashlib; the program's standard output must match it byte for byte.

Usage: machines.py --binary PATH [--save DIR] [--only NAME ...]
                   [--runner COMMAND | --bare-root STATIC_SHELL]
                   [--consumer PATH ...] [--licence PROGRAM HARDWARE_ID ...]
                   [--checker PROGRAM ...]
--runner starts the binary through another program (an emulator such as
qemu-aarch64-static). --bare-root runs it, on each machine, in a root that
holds nothing but the binary, sysfs, the stand-in ifconfig and the given
static shell as /bin/sh (so that it provably needs nothing from the system).
--consumer runs a program built on libhwid that lists the rows as hwidtool
does on each machine too; its output must equal hwidtool's byte for byte,
under the same rules (status 0, nothing on standard error, ifconfig run
exactly where hwidtool needs it).
--licence runs the README's example, built to accept HARDWARE_ID only: where
the machine's expected rows hold that ID it must exit 0 and print "licensed
for this machine", elsewhere exit 1 and say "this licence is for another
machine" on standard error, and nothing else either way.
--checker runs a program that checks the library itself, given the number of
rows the machine must list as its one argument: status 0, nothing on
standard error; its last line of output goes into the machine's line.
The last three need the system's C library: not with --bare-root.
Exit status: 0 all passed, 1 a failure, 77 skipped (not root).
"""

import argparse
import ctypes
import hashlib
import os
import platform
import shlex
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
RUNNER = []  # the emulator the binary runs under, if any (--runner)
USB_DEVICES = "/sys/bus/usb/devices"
PCI_ROOT = "/sys/devices/pci0000:00"
HOST_USB = "0000:00:14.0/usb1"


# ---------------------------------------------------------------- expected --

def hardware_id(device_id):
    return hashlib.md5(device_id).hexdigest().upper().encode()


def shown_comment(comment):
    """As ls shows a name in a UTF-8 locale: controls (C0, DEL, C1) and each
    byte outside well-formed UTF-8 become "?"."""
    text = comment.split(b"\0", 1)[0].decode("utf-8", "surrogateescape")
    return b"".join(b"?" if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F or 0xDC80 <= ord(c) <= 0xDCFF
                    else c.encode() for c in text)


def table_line(type_name, hwid, comment):
    return b"%-5s %-32s %-40s\n" % (type_name, hwid, comment)


def listing(rows):
    """rows: (type name, device id, comment) in the expected order."""
    out = b"\nAvailable unique ids:\n\n"
    out += table_line(b"TYPE", b"Hardware ID", b"Comment")
    out += b"-" * 78 + b"\n"
    for type_name, device_id, comment in rows:
        out += table_line(type_name, hardware_id(device_id), shown_comment(comment))
    return out + b"\n\n\n"


# ----------------------------------------------------------------- machine --

class UsbDevice:
    def __init__(self, name, serial=None, manufacturer=None, product=None,
                 interfaces=(), expect=None):
        self.name = name
        self.attributes = {"serial": serial, "manufacturer": manufacturer,
                           "product": product}
        self.interfaces = list(interfaces)  # (interface name, class file bytes)
        self.expect = expect  # interface name -> (device id, comment)


class Machine:
    def __init__(self, name, interfaces=(), accepted=None, usb=None,
                 ifconfig=None, fallback_rows=(), expect_fallback=False):
        self.name = name
        self.interfaces = list(interfaces)  # (kind, name, mac, peer)
        self.accepted = accepted or {}  # interface name -> device id
        self.usb = usb  # list of UsbDevice, or None for no /sys/bus/usb
        self.ifconfig = ifconfig  # stand-in output, or None: no command
        self.fallback_rows = list(fallback_rows)  # (name, device id)
        self.expect_fallback = expect_fallback


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def add_interfaces(machine, ip):
    for kind, name, mac, peer in machine.interfaces:
        if kind == "bridge":
            run(ip, "link", "add", name, "type", "bridge")
        elif kind == "tap":
            run(ip, "tuntap", "add", "dev", name, "mode", "tap")
        elif kind == "veth":
            run(ip, "link", "add", name, "type", "veth", "peer", "name", peer)
        if mac:
            run(ip, "link", "set", "dev", name, "address", mac)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)


def lay_out_usb(devices):
    """Real directories below the PCI host, symlinks in /sys/bus/usb/devices."""
    run("mount", "-t", "tmpfs", "tmpfs", "/sys/bus")
    if devices is None:
        return
    if os.path.isdir(PCI_ROOT):
        run("mount", "-t", "tmpfs", "tmpfs", PCI_ROOT)
        real_root, link_prefix = PCI_ROOT, "../../../devices/pci0000:00"
    else:  # no PCI root to hide: keep the real tree on the same tmpfs
        real_root, link_prefix = "/sys/bus/.devices", "../../.devices"
    os.makedirs(USB_DEVICES)
    hub = os.path.join(real_root, HOST_USB)
    write(os.path.join(hub, "serial"), b"0000:00:14.0\n")
    os.symlink(link_prefix + "/" + HOST_USB, os.path.join(USB_DEVICES, "usb1"))
    for device in devices:
        device_dir = os.path.join(hub, device.name)
        os.makedirs(device_dir)
        for attribute, value in device.attributes.items():
            if value is not None:
                write(os.path.join(device_dir, attribute), value)
        os.symlink(link_prefix + "/" + HOST_USB + "/" + device.name,
                   os.path.join(USB_DEVICES, device.name))
        for interface, class_file in device.interfaces:
            write(os.path.join(device_dir, interface, "bInterfaceClass"), class_file)
            os.symlink(link_prefix + "/" + HOST_USB + "/" + device.name + "/" + interface,
                       os.path.join(USB_DEVICES, interface))


def install_ifconfig(output):
    """An empty tmpfs over the real sbin, holding only the stand-in."""
    sbin = os.path.realpath("/sbin")
    run("mount", "-t", "tmpfs", "tmpfs", sbin)
    if output is None:
        return
    write(os.path.join(sbin, "ifconfig.out"), output)
    write(os.path.join(sbin, "ifconfig"),
          b'#!/bin/sh\n[ "$1" = -a ] || exit 2\n: > "$0.ran"\nexec cat "$0.out"\n')
    os.chmod(os.path.join(sbin, "ifconfig"), 0o755)


def expected_rows(machine):
    rows = []
    for name in os.listdir("/sys/class/net"):  # directory order, as read
        if name in machine.accepted:
            rows.append((b"NIC", machine.accepted[name], name.encode()))
    if not rows:
        rows = [(b"NIC", dev, name) for name, dev in machine.fallback_rows]
    by_entry = {}
    for device in machine.usb or []:
        by_entry.update(device.expect or {})
    if machine.usb is not None:
        for entry in os.listdir(USB_DEVICES):
            if entry in by_entry:
                serial, comment = by_entry[entry]
                rows.append((b"USB", serial, comment))
    return rows


def launch(binary, args=()):
    """subprocess.run keywords that start `binary` (under RUNNER) with `args`."""
    return {"args": RUNNER + [binary] + list(args)}


def bare_root(binary, shell):
    """A root on tmpfs with only the binary, this machine's sysfs, the
    stand-in /sbin and `shell` as /bin/sh; returns subprocess.run keywords
    that run the binary in it."""
    root = "/mnt"  # hidden by a tmpfs of this mount namespace, left as it was
    run("mount", "-t", "tmpfs", "tmpfs", root)
    shutil.copy(binary, os.path.join(root, "hwidtool"))
    for folder in ("sys", "sbin", "bin"):
        os.mkdir(os.path.join(root, folder))
    run("mount", "--rbind", "/sys", os.path.join(root, "sys"))
    run("mount", "--bind", os.path.realpath("/sbin"), os.path.join(root, "sbin"))
    shutil.copy(shell, os.path.join(root, "bin", "sh"))
    os.symlink("sh", os.path.join(root, "bin", "cat"))  # busybox: one file, many commands

    def enter():
        os.chroot(root)
        os.chdir("/")
    return {"args": ["/hwidtool"], "preexec_fn": enter}


def run_checked(machine, how, status, stdout, stderr=b"", label=""):
    """Runs one program on `machine`: its exit status, standard output (None:
    any) and standard error must be the ones given, and ifconfig must have
    run exactly where the machine needs the fallback. Returns its standard
    output and what went wrong, each failure prefixed with `label`."""
    marker = os.path.join(os.path.realpath("/sbin"), "ifconfig.ran")
    if os.path.exists(marker):
        os.remove(marker)  # so that each program answers for itself
    result = subprocess.run(**how, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    failures = []
    if result.returncode != status:
        failures.append("exit status %d, not %d" % (result.returncode, status))
    if stdout is not None and result.stdout != stdout:
        failures.append("stdout differs\n--- expected\n%r\n--- actual\n%r"
                        % (stdout, result.stdout))
    ran = os.path.exists(marker)
    if ran != machine.expect_fallback:
        failures.append("ifconfig %s" % ("ran" if ran else "did not run"))
    # No more than that, also where the fallback finds no ifconfig to run.
    if result.stderr != stderr:
        failures.append("stderr: %r" % result.stderr)
    return result.stdout, [label + failure for failure in failures]


def licence_answer(rows, licensed_id):
    """(status, stdout, stderr) of the README's example on a machine with
    `rows`, its licence issued for `licensed_id`."""
    if licensed_id.upper().encode() in {hardware_id(device_id) for _, device_id, _ in rows}:
        return 0, b"licensed for this machine\n", b""
    return 1, b"", b"this licence is for another machine\n"


def fabricate_and_run(machine, binary, save_dir, bare_shell=None, consumers=(),
                      licences=(), checkers=()):
    """Lays out `machine` and runs the programs on it: what went wrong, and
    a note on what ran for the machine's line."""
    ip = shutil.which("ip") or "/sbin/ip"
    add_interfaces(machine, ip)
    run("mount", "-t", "sysfs", "sysfs", "/sys")
    lay_out_usb(machine.usb)
    install_ifconfig(machine.ifconfig)
    how = bare_root(binary, bare_shell) if bare_shell else launch(binary)
    rows = expected_rows(machine)
    shown, failures = run_checked(machine, how, 0, listing(rows))
    if save_dir:
        write(os.path.join(save_dir, machine.name + ".out"), shown)
    for consumer in consumers:
        failures += run_checked(machine, launch(consumer), 0, shown, label=consumer + ": ")[1]
    notes = ["%d row%s" % (len(rows), "" if len(rows) == 1 else "s")]
    for program, licensed_id in licences:
        answer = licence_answer(rows, licensed_id)
        failures += run_checked(machine, launch(program), *answer, label=program + ": ")[1]
        notes.append("the licensed ID %samong them" % ("" if answer[0] == 0 else "not "))
    for checker in checkers:
        said, failed = run_checked(machine, launch(checker, [str(len(rows))]), 0, None,
                                   label=checker + ": ")
        failures += failed
        last = said.decode(errors="replace").strip().rsplit("\n", 1)[-1]
        notes.append("%s: %s" % (os.path.basename(checker), last or "ran"))
    return failures, ", ".join(notes)


# ---------------------------------------------------------------- machines --

def stick(name, serial, manufacturer, product, interfaces=None, expected=True):
    interfaces = interfaces or [name + ":1.0"]
    comment = (manufacturer or b"").rstrip(b"\n") + b" - " + (product or b"").rstrip(b"\n")
    expect = {i: (serial.rstrip(b"\n"), comment) for i in interfaces} if expected else {}
    return UsbDevice(name, serial, manufacturer, product,
                     [(i, b"08\n") for i in interfaces], expect)


def usb_zoo():
    long_line = b"P" * 1500 + b"\n"
    return [
        stick("1-1", b"4C530001230918103512\n", b"SanDisk\n", b"Cruzer Blade\n"),
        UsbDevice("1-2", b"KBD0001\n", b"Logitech\n", b"USB Keyboard\n",
                  [("1-2:1.0", b"03\n"), ("1-2:1.1", b"03\n")]),
        UsbDevice("1-3", None, b"Generic\n", b"Mass Storage\n", [("1-3:1.0", b"08\n")]),
        stick("1-4", b"NONAME01\n", None, None),
        stick("1-5", b"DUAL0001\n", b"Generic\n", b"Dual Card Reader\n",
              ["1-5:1.0", "1-5:1.1"]),
        stick("1-6", b"EVIL0001\n", b"\x1b]0;owned\x07Evil Corp\n",
              b"\x1b[2J\x1b[31mStick\x7f\tX \xc2\x9b2J\x9b31m \xe2\x82 Caf\xc3\xa9\r\n"),
        UsbDevice("1-7", b"LONG0001\n", b"Maker\n", long_line, [("1-7:1.0", b"08\n")],
                  {"1-7:1.0": (b"LONG0001", b"Maker - ")}),
        UsbDevice("1-8", b"S" * 1024 + b"\n", b"Maker\n", b"Too Long Serial\n",
                  [("1-8:1.0", b"08\n")]),
        stick("1-9", b"TRAIL01  \n", b"Kingston\n", b"DataTraveler 3.0\n"),
        UsbDevice("2-1", b"HUB0001\n", b"Hub Maker\n", b"Hub\n", [("2-1:1.0", b"09\n")]),
    ]


OLD_IFCONFIG = (
    b"docker0   Link encap:Ethernet  HWaddr 02:42:ac:11:00:01  \n"
    b"          inet addr:172.17.0.1  Bcast:172.17.255.255  Mask:255.255.0.0\n"
    b"\n"
    b"eth0      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:5e  \n"
    b"          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n"
    b"\n"
    b"lo        Link encap:Local Loopback  \n"
    b"ppp0      Link encap:Point-to-Point Protocol  HWaddr 00:11:22:33:44:55\n"
    b"eth1      Link encap:Ethernet  HWaddr 00:00:00:00:00:00  \n"
    b"wlan0     Link encap:Ethernet  HWaddr 0A:1B:2C:3D:4E:5F   \n"
)

REJECTED_ONLY = [
    ("bridge", "docker0", "02:42:ac:11:00:01", None),
    ("bridge", "br-0123456789ab", "02:42:0a:00:00:01", None),
    ("veth", "veth1a2b3c4", "02:00:00:00:00:01", "vethernet"),
]

MACHINES = [
    Machine(
        "workstation",
        interfaces=[
            ("bridge", "br0", "02:11:22:33:44:55", None),
            ("tap", "tap0", "0a:1b:2c:3d:4e:5f", None),
            ("tap", "tap1", "0a:1b:2c:3d:4e:5f", None),  # same address twice
            ("bridge", "virbr0", "52:54:00:ab:cd:ef", None),
            ("tap", "dock0", "00:16:3e:00:00:01", None),
        ] + REJECTED_ONLY,
        accepted={"br0": b"021122334455", "tap0": b"0A1B2C3D4E5F",
                  "tap1": b"0A1B2C3D4E5F", "virbr0": b"525400ABCDEF",
                  "dock0": b"00163E000001"},
        usb=usb_zoo(),
        ifconfig=OLD_IFCONFIG),
    Machine(
        "containers-only",
        interfaces=REJECTED_ONLY,
        usb=[stick("1-1", b"4C530001230918103512\n", b"SanDisk\n", b"Cruzer Blade\n")],
        ifconfig=OLD_IFCONFIG,
        fallback_rows=[(b"eth0", b"001A2B3C4D5E"), (b"wlan0", b"0A1B2C3D4E5F")],
        expect_fallback=True),
    Machine(
        "no-ifconfig",
        interfaces=REJECTED_ONLY,
        usb=[stick("3-2", b"ABCDEF\n", b"Verbatim\n", b"STORE N GO\n")]),
    Machine("bare"),  # only lo, no ifconfig
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


def usage(program):
    return (b"Usage:\n  " + program + b"\n\tShow all available hardware IDs on this machine\n\n"
            b"  " + program + b" --generate DEVICE_ID\n\tGenerate a hash for a DEVICE_ID\n\n")


def check_commands(binary):
    cases = [
        ([b"--generate", b"abc"], b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"),
        ([b"--generate", b"168"], b"\n168: 006F52E9102A8D3BE2FE5614F42BA989\n\n"),
        ([b"--generate", b""], b"\n: D41D8CD98F00B204E9800998ECF8427E\n\n"),
        ([b"--generate", b" a b "], b"\n a b : " + hardware_id(b" a b ") + b"\n\n"),
        ([b"--generate", b"\x1b[2J\xff"],
         b"\n\x1b[2J\xff: " + hardware_id(b"\x1b[2J\xff") + b"\n\n"),
        # Valid UTF-8 is hashed as its bytes, not as characters of a locale.
        ([b"--generate", "café".encode()],
         b"\ncaf\xc3\xa9: " + hardware_id(b"caf\xc3\xa9") + b"\n\n"),
        ([b"--generate"], None),
        ([b"--GENERATE", b"abc"], None),
        ([b"--list", b"abc"], None),
        ([b"--generate", b"a", b"b"], None),
        ([b"-h"], None),
    ]
    failures = []
    for args, expected in cases:
        result = subprocess.run(**launch(binary.encode(), args), stdout=subprocess.PIPE)
        want = expected if expected is not None else usage(binary.encode())
        if result.returncode != 0 or result.stdout != want:
            failures.append("args %r: status %d, stdout %r" % (args, result.returncode,
                                                                result.stdout))
    # An empty program name changes nothing but the name the usage shows.
    listing_here = subprocess.run(**launch(binary), stdout=subprocess.PIPE).stdout
    unnamed = [
        ([b"", b"--generate", b"abc"], b"\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n"),
        ([b"", b"abc"], usage(b"hwidtool")),
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
    if status != 0 or out != (listing_here if release >= (5, 18) else usage(b"hwidtool")):
        failures.append("no argv[0]: status %d, stdout %r" % (status, out))
    return failures


# -------------------------------------------------------------------- main --

def what_stops_fabrication():
    """None when fabricated machines can run here; else (SKIP, reason) where
    this is not root, the one fact to skip them for, and (1, reason) where
    root cannot make the namespaces: that is a failure, never a skip."""
    if os.geteuid() != 0:
        return SKIP, "not root: fabricated machines need network and mount namespaces"
    try:
        probe = subprocess.run(["unshare", "-nm", "true"], stderr=subprocess.PIPE)
    except OSError as error:
        return 1, "unshare -nm true: %s" % error
    if probe.returncode != 0:
        return 1, "unshare -nm true (exit status %d): %s" % (
            probe.returncode, probe.stderr.decode(errors="replace").strip())
    return None


def is_hardware_id(text):
    return len(text) == 32 and all(c in "0123456789abcdefABCDEF" for c in text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.environ.get("HWIDTOOL"))
    parser.add_argument("--save", help="folder for each machine's raw output")
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--inside", help=argparse.SUPPRESS)
    parser.add_argument("--facts", help=argparse.SUPPRESS)
    how = parser.add_mutually_exclusive_group()
    how.add_argument("--runner", help="emulator to start the binary with")
    how.add_argument("--bare-root", metavar="STATIC_SHELL",
                     help="run in a root without a C library, this shell as /bin/sh")
    parser.add_argument("--consumer", action="append", default=[], metavar="PATH",
                        help="a libhwid program whose listing must equal hwidtool's")
    parser.add_argument("--licence", action="append", default=[], nargs=2,
                        metavar=("PROGRAM", "HARDWARE_ID"),
                        help="the README's example, its licence for HARDWARE_ID")
    parser.add_argument("--checker", action="append", default=[], metavar="PROGRAM",
                        help="a program checking libhwid, told the machine's row count")
    args = parser.parse_args()
    if (args.consumer or args.licence or args.checker) and args.bare_root:
        parser.error("--consumer, --licence and --checker need the system's C library: "
                     "not with --bare-root")
    for _, text in args.licence:
        if not is_hardware_id(text):
            parser.error("--licence: not a Hardware ID (32 hex digits): %r" % text)
    consumers = [os.path.abspath(path) for path in args.consumer]
    licences = [(os.path.abspath(path), text) for path, text in args.licence]
    checkers = [os.path.abspath(path) for path in args.checker]
    binary = os.path.abspath(args.binary)
    if args.runner:
        RUNNER.extend(shlex.split(args.runner))

    if args.inside:
        machine = next(m for m in MACHINES if m.name == args.inside)
        failures, note = fabricate_and_run(machine, binary, args.save, args.bare_root,
                                           consumers, licences, checkers)
        for failure in failures:
            print("  " + failure)
        with open(args.facts, "w") as f:
            f.write(note)
        return 1 if failures else 0

    failed = 0
    passed = 0
    for failure in check_commands(binary):
        print("FAIL commands: " + failure)
        failed += 1
    passed += 0 if failed else 1
    print("%s commands" % ("ok  " if not failed else "FAIL"))

    stop = what_stops_fabrication()
    if stop:
        status, reason = stop
        print("%s fabricated machines: %s" % ("SKIP" if status == SKIP else "FAIL", reason))
        return 1 if failed else status
    for machine in MACHINES:
        if args.only and machine.name not in args.only:
            continue
        command = ["unshare", "-nm", "--propagation", "private", sys.executable,
                   os.path.abspath(__file__), "--binary", binary, "--inside", machine.name]
        if args.save:
            command += ["--save", os.path.abspath(args.save)]
        if args.runner:
            command += ["--runner", args.runner]
        if args.bare_root:
            command += ["--bare-root", os.path.abspath(args.bare_root)]
        for consumer in consumers:
            command += ["--consumer", consumer]
        for program, text in licences:
            command += ["--licence", program, text]
        for checker in checkers:
            command += ["--checker", checker]
        with tempfile.NamedTemporaryFile("r") as facts:
            ok = subprocess.run(command + ["--facts", facts.name]).returncode == 0
            note = facts.read()
        print("%s machine %s%s" % ("ok  " if ok else "FAIL", machine.name,
                                   " (%s)" % note if note else ""))
        passed += ok
        failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
