#!/usr/bin/env python3
"""Fabricated machines for every harness: interfaces, sysfs, the USB tree and
a stand-in /sbin/ifconfig, laid out in fresh network and mount namespaces;
the listing expected on them, worked out with hashlib and never by the
program under test; one way of running a case in its own namespaces; and
the suite's ok/FAIL/SKIP lines (scripts/checks.sh), appended to
$HWID_CHECKS when that is set, so that a caller counts them once.

As a command, for harnesses in other languages:
  fabric.py expected --format FORMAT --version VERSION NAME=MAC...
prints the text expected for the network adapters NAME=MAC, in that order:
FORMAT hwidwin-copy (hwidwin's copy text), hwidwin-display (its display
text) or listing-crlf (libhwid/tests/listing.c's table, CR LF line ends).
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
USB_DEVICES = "/sys/bus/usb/devices"
PCI_ROOT = "/sys/devices/pci0000:00"
HOST_USB = "0000:00:14.0/usb1"


# ----------------------------------------------------------------- counting --

def check_line(line):
    print(line, flush=True)
    if os.environ.get("HWID_CHECKS"):
        with open(os.environ["HWID_CHECKS"], "a") as f:
            f.write(line + "\n")


class Count:
    """The lines of one harness, and its closing "N passed, M failed"."""

    def __init__(self):
        self.passed = self.failed = 0

    def record(self, name, failures=()):
        """ok, or FAIL with the first problem (all of them shown above)."""
        if failures:
            first = failures[0].split("\n", 1)[0][:160]
            more = len(failures) - 1
            check_line("FAIL %s (%s%s)" % (name, first, " and %d more" % more if more else ""))
        else:
            check_line("ok   " + name)
        self.passed += not failures
        self.failed += bool(failures)
        return not failures

    def finish(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 1 if self.failed or not self.passed else 0


def skip(fact):
    check_line("SKIP [%s] %s" % (os.environ.get("HWID_STAGE") or "?", fact))


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


def report_stop(count, what, stop):
    """The line for `what`, which what_stops_fabrication's (status, reason)
    stops: a SKIP, or a FAIL counted in `count`. Returns the status."""
    status, reason = stop
    if status == SKIP:
        skip("%s: %s" % (what, reason))
    else:
        count.record(what, [reason])
    return status


# ------------------------------------------------------------------ running --

def add_case_options(parser):
    """The options by which a harness, started again, runs one case."""
    parser.add_argument("--inside", help=argparse.SUPPRESS)
    parser.add_argument("--facts", help=argparse.SUPPRESS)


def in_namespaces(case, extra=()):
    """Runs this script again, with its own arguments, for `case` alone in
    fresh network and mount namespaces (gone when it ends): its problems
    (shown as they come, "see above" where it said none) and its note."""
    with tempfile.NamedTemporaryFile("r") as facts:
        command = ["unshare", "-nm", "--propagation", "private", sys.executable,
                   os.path.abspath(sys.argv[0])] + sys.argv[1:] + [
                       "--inside", case, "--facts", facts.name] + list(extra)
        passed = subprocess.run(command).returncode == 0
        note, _, problem = facts.read().partition("\n")
    return [] if passed else [problem or "see above"], note


def answer_inside(args, check):
    """The case's side of in_namespaces: `check()` gives (failures, note)."""
    failures, note = check()
    for failure in failures:
        print("  " + failure)
    with open(args.facts, "w") as f:
        f.write(note + "".join("\n" + failure.split("\n", 1)[0] for failure in failures[:1]))
    return 1 if failures else 0


def run_cases(count, cases, label=lambda case: case):
    """Each case in namespaces of its own, counted: "ok   LABEL (NOTE)"."""
    for case in cases:
        failures, note = in_namespaces(case)
        count.record(label(case) + (" (%s)" % note if note else ""), failures)


# ----------------------------------------------------------------- expected --

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


def usage(program):
    return (b"Usage:\n  " + program + b"\n\tShow all available hardware IDs on this machine\n\n"
            b"  " + program + b" --generate DEVICE_ID\n\tGenerate a hash for a DEVICE_ID\n\n")


def hwidwin_copy(version, adapters):
    """hwidwin's copy text for (name, mac) adapters, the MAC hashed as shown
    without its colons."""
    line = b"%-10s%-35s%-43s\r\n"
    out = b"ZEF Version: " + version + b"\r\n\r\n\nAvailable unique ids:\r\n\r\n"
    out += line % (b"TYPE", b"Hardware ID", b"Comment") + b"-" * 88 + b"\r\n"
    for name, mac in adapters:
        out += line % (b"NIC", hardware_id(mac.replace(b":", b"")), name)
    return out


def hwidwin_display(version, adapters):
    return hwidwin_copy(version, adapters) + (
        b"\r\n\r\n\r\nPress Copy text to Clipboard button"
        b" and email this text to: support@zef.example\r\n")


def listing_crlf(version, adapters):
    """listing.c's table of hwidwin's rows: each row's first three words."""
    out = b"\r\nAvailable unique ids:\r\n\r\n" + table_line(
        b"TYPE", b"Hardware ID", b"Comment")[:-1] + b"\r\n" + b"-" * 78 + b"\r\n"
    for line in hwidwin_copy(version, adapters).split(b"\n"):
        if re.match(rb"(NIC|USB) ", line):
            words = re.split(rb"[ \t]+", line.strip(b" \t")) + [b"", b""]
            out += b"%-5s %-32s %-40s\r\n" % tuple(words[:3])
    return out + b"\r\n\r\n\r\n"


FORMATS = {"hwidwin-copy": hwidwin_copy, "hwidwin-display": hwidwin_display,
           "listing-crlf": listing_crlf}


# ------------------------------------------------------------------ machine --

class UsbDevice:
    def __init__(self, name, serial=None, manufacturer=None, product=None,
                 interfaces=(), expect=None):
        self.name = name
        self.attributes = {"serial": serial, "manufacturer": manufacturer,
                           "product": product}
        self.interfaces = list(interfaces)  # (interface name, class file bytes)
        self.expect = expect  # interface name -> (device id, comment)


def stick(name, serial, manufacturer, product, interfaces=None, expected=True):
    """A mass-storage device, listed (when `expected`) once per interface."""
    interfaces = interfaces or [name + ":1.0"]
    comment = (manufacturer or b"").rstrip(b"\n") + b" - " + (product or b"").rstrip(b"\n")
    expect = {i: (serial.rstrip(b"\n"), comment) for i in interfaces} if expected else {}
    return UsbDevice(name, serial, manufacturer, product,
                     [(i, b"08\n") for i in interfaces], expect)


class Machine:
    def __init__(self, name, interfaces=(), accepted=None, usb=None,
                 ifconfig=None, fallback_rows=(), expect_fallback=False):
        self.name = name
        # (kind, name, mac, peer): kind bridge, tap or veth; a veth's peer
        # is a name or (name, mac)
        self.interfaces = list(interfaces)
        self.accepted = accepted or {}  # interface name -> device id
        self.usb = usb  # list of UsbDevice, or None for no /sys/bus/usb
        self.ifconfig = ifconfig  # stand-in output, or None: no command
        self.fallback_rows = list(fallback_rows)  # (name, device id)
        self.expect_fallback = expect_fallback


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)


def add_interfaces(interfaces):
    """In one ip process: thousands of interfaces take seconds, not minutes."""
    commands = []
    for kind, name, mac, peer in interfaces:
        peer_name, peer_mac = peer if isinstance(peer, tuple) else (peer, None)
        commands.append({"bridge": "link add %s type bridge" % name,
                         "tap": "tuntap add dev %s mode tap" % name,
                         "veth": "link add %s type veth peer name %s" % (name, peer_name)}[kind])
        for device, address in ((name, mac), (peer_name, peer_mac)):
            if address:
                commands.append("link set dev %s address %s" % (device, address))
    if commands:
        subprocess.run([shutil.which("ip") or "/sbin/ip", "-batch", "-"], check=True,
                       input="\n".join(commands).encode() + b"\n", stdout=subprocess.DEVNULL)


def mount_sysfs():
    run("mount", "-t", "sysfs", "sysfs", "/sys")


def usb_path(device, *names):
    """Where lay_out_usb put `device`'s real directory (and names below it)."""
    return os.path.join(PCI_ROOT if os.path.isdir(PCI_ROOT) else "/sys/bus/.devices",
                        HOST_USB, device, *names)


def lay_out_usb(devices):
    """Real directories below the PCI host, symlinks in /sys/bus/usb/devices."""
    run("mount", "-t", "tmpfs", "tmpfs", "/sys/bus")
    if devices is None:
        return
    if os.path.isdir(PCI_ROOT):
        run("mount", "-t", "tmpfs", "tmpfs", PCI_ROOT)
        link_prefix = "../../../devices/pci0000:00/" + HOST_USB
    else:  # no PCI root to hide: keep the real tree on the same tmpfs
        link_prefix = "../../.devices/" + HOST_USB
    os.makedirs(USB_DEVICES)
    write(usb_path("serial"), b"0000:00:14.0\n")
    os.symlink(link_prefix, os.path.join(USB_DEVICES, "usb1"))
    for device in devices:
        device_dir = usb_path(device.name)
        os.makedirs(device_dir)
        for attribute, value in device.attributes.items():
            if value is not None:
                write(os.path.join(device_dir, attribute), value)
        os.symlink(link_prefix + "/" + device.name, os.path.join(USB_DEVICES, device.name))
        for interface, class_file in device.interfaces:
            write(os.path.join(device_dir, interface, "bInterfaceClass"), class_file)
            os.symlink(link_prefix + "/" + device.name + "/" + interface,
                       os.path.join(USB_DEVICES, interface))


IFCONFIG_RAN = os.path.join(os.path.realpath("/sbin"), "ifconfig.ran")


def install_ifconfig(output):
    """An empty tmpfs over the real sbin, holding only the stand-in."""
    sbin = os.path.dirname(IFCONFIG_RAN)
    run("mount", "-t", "tmpfs", "tmpfs", sbin)
    if output is None:
        return
    write(os.path.join(sbin, "ifconfig.out"), output)
    write(os.path.join(sbin, "ifconfig"),
          b'#!/bin/sh\n[ "$1" = -a ] || exit 2\n: > "$0.ran"\nexec cat "$0.out"\n')
    os.chmod(os.path.join(sbin, "ifconfig"), 0o755)


def fabricate(machine):
    """Lays out `machine`; returns it, for a harness that goes on to spoil it."""
    add_interfaces(machine.interfaces)
    mount_sysfs()
    lay_out_usb(machine.usb)
    install_ifconfig(machine.ifconfig)
    return machine


def expected_rows(machine):
    """The rows in the order the kernel now lists the directories."""
    rows = []
    for name in os.listdir("/sys/class/net"):
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


def judge(result, status, stdout, stderr, fallback):
    """What is wrong with a finished run: its exit status, standard output
    (None: any) and standard error must be the ones given, and ifconfig
    must have run exactly where the machine needs the fallback (also where
    the fallback finds no ifconfig to run)."""
    failures = []
    if result.returncode != status:
        failures.append("exit status %d, not %d" % (result.returncode, status))
    if stdout is not None and result.stdout != stdout:
        want, got = stdout.splitlines(True), result.stdout.splitlines(True)
        line = next((i for i, pair in enumerate(zip(want, got)) if pair[0] != pair[1]),
                    min(len(want), len(got)))
        failures.append("stdout differs at line %d of %d (%d bytes, %d expected):\n"
                        "--- expected\n%r\n--- actual\n%r" % (
                            line + 1, len(want), len(result.stdout), len(stdout),
                            b"".join(want[line:line + 3])[:600], b"".join(got[line:line + 3])[:600]))
    if os.path.exists(IFCONFIG_RAN) != fallback:
        failures.append("ifconfig %s" % ("did not run" if fallback else "ran"))
    if result.stderr != stderr:
        failures.append("stderr: %d bytes, %r" % (len(result.stderr), result.stderr[-2000:]))
    return failures


def started(args, **keywords):
    """A run of the command `args` whose ifconfig marker is its own."""
    if os.path.exists(IFCONFIG_RAN):
        os.remove(IFCONFIG_RAN)
    return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **keywords)


# ------------------------------------------------------ machines to share --

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
        stick("1-10", b"\xffSER\x80\xc3\n", b"Caf\xe9\n", b"Latin-1 \xb5\n"),  # not UTF-8
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
# What a machine falling back on OLD_IFCONFIG lists: docker0 is excluded, lo
# and ppp0 are no Ethernet, eth1's address is all zeros.
OLD_IFCONFIG_ROWS = [(b"eth0", b"001A2B3C4D5E"), (b"wlan0", b"0A1B2C3D4E5F")]

REJECTED_ONLY = [
    ("bridge", "docker0", "02:42:ac:11:00:01", None),
    ("bridge", "br-0123456789ab", "02:42:0a:00:00:01", None),
    ("veth", "veth1a2b3c4", "02:00:00:00:00:01", "vethernet"),
]


# ------------------------------------------------------------------ command --

def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    expected = commands.add_parser("expected", help="the text expected for network adapters")
    expected.add_argument("--format", required=True, choices=sorted(FORMATS))
    expected.add_argument("--version", required=True)
    expected.add_argument("adapters", nargs="*", metavar="NAME=MAC")
    args = parser.parse_args()
    adapters = []
    for adapter in args.adapters:
        if "=" not in adapter:
            parser.error("not NAME=MAC: %r" % adapter)
        adapters.append(tuple(os.fsencode(part) for part in adapter.split("=", 1)))
    sys.stdout.buffer.write(FORMATS[args.format](os.fsencode(args.version), adapters))
    return 0


if __name__ == "__main__":
    sys.exit(main())
