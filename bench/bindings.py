#!/usr/bin/env python3
"""Times one list of each binding against one probe pass of the C library, on a fabricated
machine of 64 interfaces (bench/listing.py's machine, 256 USB entries). In this process: the C
call through ctypes (hwid_list_new and hwid_list_free, nothing copied) against the Python
package's hwid.rows(). With --addon, the Node addon's list(); with --java, the jar's
HardwareIds.list() (its classes and JNA on that class path, the library as the jar holds it);
with --dotnet, Zef.Hwid's HardwareIds.List() under Mono (its assembly beside a timer, the
library in runtimes/linux-x64/native/): each in a process of its own, against its own
present() there (see ABSENT below). Process start is not counted. Medians of interleaved
runs: the C call's own time drifts by a fifth from one moment to the next, more than any
binding adds, so only calls taken one and one in the same process compare.

Usage: bench/bindings.py --library LIBHWID_SO [--addon HWID_NODE] [--java CLASS_PATH]
                          [--dotnet ZEF_HWID_DLL] [--runs N]
The package is libhwid/python's, with the given library inside, in a temporary folder. Needs
root (namespaces); without it, it says so and exits 77. A benchmark: it reports, it never fails
on slow figures.
"""
import argparse
import ctypes
import importlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "lib"))
sys.path.insert(0, HERE)
import fabric as f  # noqa: E402
from listing import machine  # noqa: E402

COUNT, USB_ENTRIES = 64, 256
# Inside another runtime the C call cannot be made as such: the binding's present() of an
# absent Hardware ID stands for it, one hwid_present, the very probe pass hwid_list_new makes
# with nothing copied out (this process times both, to show they agree). Each timer takes
# one and one, after a warm-up of as many (the JITs settle), and prints the two medians in
# milliseconds: "PRESENT LIST".
ABSENT = "0" * 32
NODE_TIMER = """const hwid = require(process.argv[1]), runs = Number(process.argv[2]);
const timed = (call) => { const started = process.hrtime.bigint(); call();
  return Number(process.hrtime.bigint() - started) / 1e6; };
const median = (times) => times.sort((a, b) => a - b)[runs >> 1];
const probe = () => hwid.present("%s"), present = [], list = [];
for (let i = 0; i < runs; i++) { probe(); hwid.list(); }
for (let i = 0; i < runs; i++) { present.push(timed(probe)); list.push(timed(hwid.list)); }
console.log(median(present), median(list));""" % ABSENT
JAVA_TIMER = """import static zef.hwid.HardwareIds.*;
public class ListTimer {
    public static void main(String[] args) {
        int runs = Integer.parseInt(args[0]);
        double[] present = new double[runs], list = new double[runs];
        for (int i = 0; i < runs; i++) { isPresent("%s"); list(); }
        for (int i = 0; i < runs; i++) {
            long started = System.nanoTime();
            isPresent("%s");
            long between = System.nanoTime();
            list();
            present[i] = (between - started) / 1e6;
            list[i] = (System.nanoTime() - between) / 1e6;
        }
        java.util.Arrays.sort(present);
        java.util.Arrays.sort(list);
        System.out.println(present[runs / 2] + " " + list[runs / 2]);
    }
}""" % (ABSENT, ABSENT)
DOTNET_TIMER = """using Zef.Hwid;
static class ListTimer {
    static void Main(string[] args) {
        int runs = int.Parse(args[0]);
        var present = new double[runs];
        var list = new double[runs];
        for (int i = 0; i < runs; i++) { HardwareIds.IsPresent("%s"); HardwareIds.List(); }
        for (int i = 0; i < runs; i++) {
            var watch = System.Diagnostics.Stopwatch.StartNew();
            HardwareIds.IsPresent("%s");
            present[i] = watch.Elapsed.TotalMilliseconds;
            watch.Restart();
            HardwareIds.List();
            list[i] = watch.Elapsed.TotalMilliseconds;
        }
        System.Array.Sort(present);
        System.Array.Sort(list);
        var text = System.Globalization.CultureInfo.InvariantCulture;
        System.Console.WriteLine(present[runs / 2].ToString(text) + " " + list[runs / 2].ToString(text));
    }
}""" % (ABSENT, ABSENT)


def timed(call, runs):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        call()
        times.append(time.perf_counter() - started)
    return times


def line(name, took, base, what):
    return "%s %.3f ms against %s %.3f ms: %+.1f%%" % (
        name, took * 1e3, what, base * 1e3, (took / base - 1) * 100)


def inside(args):
    made = machine(COUNT, USB_ENTRIES)
    f.add_interfaces(made.interfaces)
    f.mount_sysfs()
    f.lay_out_usb(made.usb)
    with tempfile.TemporaryDirectory() as folder:
        shutil.copytree(os.path.join(HERE, "..", "libhwid", "python", "src", "hwid"),
                        os.path.join(folder, "hwid"))
        shutil.copy(args.library, os.path.join(folder, "hwid", "libhwid.so.1"))
        sys.path.insert(0, folder)
        hwid = importlib.import_module("hwid")
        library = hwid._library  # the very library the package loaded

        def c_list():
            handle = ctypes.c_void_p()
            library.hwid_list_new(ctypes.byref(handle))
            library.hwid_list_free(handle)
        rows = hwid.rows()
        expected = len(f.expected_rows(made))
        if len(rows) != expected:
            return ["the machine lists %d rows, not %d" % (len(rows), expected)], ""
        absent = ABSENT.encode()
        c_times, present_times, python_times = [], [], []
        for _ in range(args.runs):  # one and one, so that drift hits all alike
            c_times += timed(c_list, 1)
            present_times += timed(lambda: library.hwid_present(absent), 1)
            python_times += timed(hwid.rows, 1)
        others = {}
        if args.addon:
            others["Node list()"] = ["node", "-e", NODE_TIMER, args.addon, str(args.runs)]
        if args.java:
            timer, natives = os.path.join(folder, "ListTimer.java"), os.path.join(folder, "natives")
            with open(timer, "w") as source:
                source.write(JAVA_TIMER)
            os.makedirs(os.path.join(natives, "linux-x86-64"))  # the jar's folder for this host
            shutil.copy(args.library, os.path.join(natives, "linux-x86-64", "libhwid.so"))
            others["Java HardwareIds.list()"] = ["java", "-cp", natives + ":" + args.java, timer,
                                                 str(args.runs)]
        if args.dotnet:
            app = os.path.join(folder, "dotnet")
            os.makedirs(os.path.join(app, "runtimes", "linux-x64", "native"))
            shutil.copy(args.dotnet, app)
            shutil.copy(args.library, os.path.join(app, "runtimes", "linux-x64", "native", "libhwid.so"))
            with open(os.path.join(app, "ListTimer.cs"), "w") as source:
                source.write(DOTNET_TIMER)
            subprocess.check_call(["mcs", "-optimize+", "-r:" + os.path.join(app, "Zef.Hwid.dll"),
                                   "-out:" + os.path.join(app, "ListTimer.exe"),
                                   os.path.join(app, "ListTimer.cs")])
            others["Mono HardwareIds.List()"] = ["mono", os.path.join(app, "ListTimer.exe"),
                                                 str(args.runs)]
        c, present = statistics.median(c_times), statistics.median(present_times)
        print("%d rows; medians of %d: hwid_list_new %.3f ms, hwid_present %.3f ms (%+.1f%%)" % (
            len(rows), args.runs, c * 1e3, present * 1e3, (present / c - 1) * 100))
        print(line("Python hwid.rows()", statistics.median(python_times), c, "hwid_list_new"))
        for name, command in others.items():
            present, took = (float(ms) / 1e3 for ms in subprocess.check_output(command).split())
            print(line(name, took, present, "its present() in the same process"), flush=True)
    return [], ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--addon")
    parser.add_argument("--java")
    parser.add_argument("--dotnet")
    parser.add_argument("--runs", type=int, default=200)
    f.add_case_options(parser)
    args = parser.parse_args()
    args.library = os.path.abspath(args.library)
    args.addon = args.addon and os.path.abspath(args.addon)
    args.dotnet = args.dotnet and os.path.abspath(args.dotnet)
    args.java = args.java and ":".join(os.path.abspath(p) for p in args.java.split(":"))
    if args.inside:
        return f.answer_inside(args, lambda: inside(args))
    stop = f.what_stops_fabrication()
    if stop:
        print("skipped: " + stop[1])
        return stop[0]
    print("bindings on a fabricated machine of %d interfaces and %d USB entries" % (
        COUNT, USB_ENTRIES), flush=True)
    return 1 if f.in_namespaces("bindings")[0] else 0


if __name__ == "__main__":
    sys.exit(main())
