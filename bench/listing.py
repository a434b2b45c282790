#!/usr/bin/env python3
"""Times the listing of hwidtool as a whole process against "ip -o link show"
on fabricated machines (tests/lib/fabric.py) with growing numbers of network
interfaces, and reports time, peak resident memory and heap per interface.

Usage: bench/listing.py [--binary LABEL=PATH]... [--counts "1 64 512 2048"]
                        [--usb ENTRIES] [--runs N] [--out DIR]
Several --binary options time several builds side by side in the same
machines (default: shared=build-bench/linux/cli/hwidtool). Before the
fabricated machines, the machine this runs on is measured as it is.
Needs iproute2, hyperfine and GNU time; valgrind is optional (heap figures).
Without root only this machine is measured, as it is. A machine that does
not list what it was made with stops the run (exit status 1): its figures
would mean nothing. This is a benchmark: it reports, it never fails on slow
figures.
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "lib"))
import fabric as f  # noqa: E402

IP = ["ip", "-o", "link", "show"]


def machine(count, usb_entries):
    """Interfaces in a round of bridge, tap, veth pair, so that every kind the
    kernel lists under /sys/class/net is there, none with a name the probe
    leaves out, their addresses locally administered and all distinct; USB
    devices of one interface each, every other one mass storage."""
    interfaces, accepted, i = [], {}, 0
    while len(accepted) < count:
        mac = "02:5a:%02x:%02x:%02x:" % (i >> 16 & 255, i >> 8 & 255, i & 255)
        made = []
        if i % 3 == 0:
            made = [("bridge", "nb%d" % i, mac + "01", None)]
        elif i % 3 == 1:
            made = [("tap", "nt%d" % i, mac + "02", None)]
        elif count - len(accepted) >= 2:
            made = [("veth", "nva%d" % i, mac + "03", ("nvb%d" % i, mac + "04"))]
            accepted["nvb%d" % i] = (mac + "04").replace(":", "").upper().encode()
        for _, name, address, _ in made:
            accepted[name] = address.replace(":", "").upper().encode()
        interfaces += made
        i += 1
    usb = []
    for n in range(1, usb_entries // 2 + 1):
        words = (b"SER%08d\n" % n, b"Maker %d\n" % n, b"Stick %d\n" % n)
        usb.append(f.stick("1-%d" % n, *words) if n % 2 else
                   f.UsbDevice("1-%d" % n, *words, [("1-%d:1.0" % n, b"03\n")]))
    return f.Machine("bench-%d" % count, interfaces, accepted, usb)


def median_rss_kib(command, folder):
    sample = os.path.join(folder, "rss-sample")
    values = []
    for _ in range(5):
        # -o names a file of its own: opening /dev/stdout would truncate it.
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", sample] + command,
                       stdout=subprocess.DEVNULL, check=True)
        with open(sample) as stream:
            values.append(int(stream.read().split()[-1]))
    os.remove(sample)
    return sorted(values)[2]


def measure(builds, runs, folder):
    """Every build and ip on the machine as it stands: the figures."""
    os.makedirs(folder, exist_ok=True)
    times = os.path.join(folder, "time.json")
    subprocess.run(["hyperfine", "-N", "--style", "none", "--warmup", "5", "--runs", str(runs),
                    "--export-json", times] + [shlex.quote(path) for _, path in builds]
                   + [" ".join(IP)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    with open(times) as stream:
        results = json.load(stream)["results"]
    figures = {"time": results, "rss": {}, "heap": {}, "allocs": {}}
    for label, path in builds:
        figures["rss"][label] = median_rss_kib([path], folder)
    figures["rss"]["ip"] = median_rss_kib(IP, folder)
    listed = subprocess.run([builds[0][1]], stdout=subprocess.PIPE).stdout
    figures["nics"] = listed.count(b"\nNIC ")
    for label, path in builds if shutil.which("valgrind") else []:
        massif = os.path.join(folder, "massif-" + label)
        subprocess.run(["valgrind", "--tool=massif", "--massif-out-file=" + massif, path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(massif) as stream:
            figures["heap"][label] = max(int(v) + int(e) for v, e in re.findall(
                r"mem_heap_B=(\d+)\nmem_heap_extra_B=(\d+)", stream.read()))
        memcheck = subprocess.run(["valgrind", "--tool=memcheck", path], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE).stderr.decode(errors="replace")
        found = re.search(r"total heap usage: ([\d,]+) allocs", memcheck)
        figures["allocs"][label] = int(found.group(1).replace(",", "")) if found else None
    return figures


def inside(args, builds):
    """One fabricated machine: it must list exactly what it was made with."""
    count = int(args.inside)
    made = machine(count, args.usb)
    # No stand-in ifconfig: its tmpfs over sbin would hide ip.
    f.add_interfaces(made.interfaces)
    f.mount_sysfs()
    f.lay_out_usb(made.usb)
    result = f.started([builds[0][1]])
    failures = f.judge(result, 0, f.listing(f.expected_rows(made)), b"", False)
    if failures:
        return ["fabricated machine with %d interfaces: %s" % (count, failures[0])], ""
    figures = measure(builds, args.runs, os.path.join(args.out, str(count)))
    with open(os.path.join(args.out, "%d.json" % count), "w") as stream:
        json.dump(figures, stream)
    return [], ""


def fit(xs, ys):
    """Least squares: (intercept, slope); the fit over all machines is
    steadier than any one stretch."""
    mean_x, mean_y = sum(xs) / len(xs), sum(ys) / len(ys)
    slope = sum((a - mean_x) * (b - mean_y) for a, b in zip(xs, ys)) / \
        sum((a - mean_x) ** 2 for a in xs)
    return mean_y - slope * mean_x, slope


def cpu_ms(result):
    return (result["user"] + result["system"]) * 1000


def report(out, runs, machines):
    # label -> [(machine, nics, wall ms, ip wall ms, rss, ip rss, heap, allocs, cpu ms, ip cpu ms)]
    rows = {}
    for name in machines:
        with open(os.path.join(out, name + ".json")) as stream:
            figures = json.load(stream)
        ip = figures["time"][-1]
        labels = [label for label in figures["rss"] if label != "ip"]
        for label, result in zip(labels, figures["time"]):
            heap, allocs = figures["heap"].get(label), figures["allocs"].get(label)
            if not allocs:  # a static binary's malloc is out of valgrind's reach
                heap, allocs = None, None
            rows.setdefault(label, []).append((
                name, figures["nics"], result["median"] * 1000, ip["median"] * 1000,
                figures["rss"][label], figures["rss"]["ip"], heap, allocs, cpu_ms(result),
                cpu_ms(ip)))

    print("%-8s %-7s %5s | %8s %8s %6s | %8s %8s %6s | %7s %7s | %8s %6s" % (
          "build", "machine", "NICs", "wall ms", "ip", "ratio", "CPU ms", "ip", "ratio",
          "RSS KiB", "ip", "heap B", "allocs"))
    for label, lines in rows.items():
        for (name, nics, ms, ip_ms, rss, ip_rss, heap, allocs, cpu, ip_cpu) in lines:
            print("%-8s %-7s %5d | %8.2f %8.2f %6.2f | %8.2f %8.2f %6.2f | %7d %7d | %8s %6s" % (
                label, name, nics, ms, ip_ms, ip_ms / ms, cpu, ip_cpu, ip_cpu / cpu,
                rss, ip_rss, "-" if heap is None else heap, "-" if allocs is None else allocs))
    print("wall: median of %s runs; CPU: mean user+system time, steadier on a busy machine;"
          " ratio = ip / hwidtool,\n>= 1.00: no slower than ip. RSS: median peak resident set of 5"
          " runs. heap: peak (valgrind massif; '-' for a static binary).\nMachine 'host' is this"
          " machine as it is; the others are fabricated with that many interfaces." % runs)
    for label, lines in rows.items():
        print("%s: hwidtool / ip, median wall: %s" % (label, ", ".join(
            "%s %.2f" % (name if name == "host" else "%d NICs" % nics, ms / ip_ms)
            for (name, nics, ms, ip_ms, *_) in lines)))

    for label, lines in rows.items():
        fabricated = [line for line in lines if line[0] != "host"]
        if len(fabricated) < 2:
            continue
        # Flat means each stretch costs the same per added interface.
        n = [line[1] for line in fabricated]
        cpu0, cpu1 = fit(n, [line[8] for line in fabricated])
        ip0, ip1 = fit(n, [line[9] for line in fabricated])
        print("%s: fitted CPU time %.2f ms + %.2f us per interface (ip %.2f ms + %.2f us)"
              % (label, cpu0, cpu1 * 1000, ip0, ip1 * 1000))
        if all(line[6] is not None for line in fabricated):
            heap0, heap1 = fit(n, [line[6] for line in fabricated])
            print("%s: fitted peak heap %.0f B + %.0f B per interface" % (label, heap0, heap1))
        print("%s, per added interface:" % label)
        for before, after in zip(fabricated, fabricated[1:]):
            span = after[1] - before[1]
            if span <= 0:
                continue
            heap = "-" if after[6] is None or before[6] is None else \
                "%.0f B" % ((after[6] - before[6]) / span)
            allocs = "-" if after[7] is None or before[7] is None else \
                "%.1f" % ((after[7] - before[7]) / span)
            print("  %5d to %5d: wall %6.2f us (ip %6.2f), CPU %6.2f us (ip %6.2f), RSS %5.0f B,"
                  " peak heap %s, allocations %s" % (
                      before[1], after[1], (after[2] - before[2]) * 1000 / span,
                      (after[3] - before[3]) * 1000 / span, (after[8] - before[8]) * 1000 / span,
                      (after[9] - before[9]) * 1000 / span, (after[4] - before[4]) * 1024 / span,
                      heap, allocs))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", action="append", default=[], metavar="LABEL=PATH")
    parser.add_argument("--counts", default="1 64 512 2048")
    parser.add_argument("--usb", type=int, default=256, metavar="ENTRIES")
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--out")
    f.add_case_options(parser)
    args = parser.parse_args()
    builds = []
    for number, given in enumerate(args.binary or
                                   ["shared=" + os.path.join(HERE, "..", "build-bench",
                                                             "linux", "cli", "hwidtool")]):
        label, _, path = given.rpartition("=")
        builds.append((label or "build%d" % (number + 1), os.path.realpath(path)))
    if args.inside:
        return f.answer_inside(args, lambda: inside(args, builds))

    for _, path in builds:
        if not os.access(path, os.X_OK):
            print("no hwidtool at %s (build it first)" % path, file=sys.stderr)
            return 2
    for tool in ("hyperfine", "/usr/bin/time", "ip"):
        if not shutil.which(tool):
            print("skipped: %s is missing" % tool)
            return f.SKIP
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.abspath(args.out or scratch)
        os.makedirs(out, exist_ok=True)
        for label, path in builds:
            print("%s: %s" % (label, path))
        print("this machine as it is ...", flush=True)
        with open(os.path.join(out, "host.json"), "w") as stream:
            json.dump(measure(builds, args.runs, os.path.join(out, "host")), stream)
        counts = args.counts.split()
        stop = f.what_stops_fabrication()
        if stop:
            print("fabricated machines skipped: " + stop[1])
            counts = []
        else:
            print("fabricated machines: %s interfaces, %d USB entries each"
                  % (args.counts, args.usb))
        for count in counts:
            print("  %s interfaces ..." % count, flush=True)
            failures, _ = f.in_namespaces(count, ["--out", out])
            if failures:
                return 1
        report(out, args.runs, ["host"] + counts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
