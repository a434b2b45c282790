#!/usr/bin/env python3
"""Times one list of each binding against one hwid_list_new of the C library, in one process
on a fabricated machine of 64 interfaces (bench/listing.py's machine, 256 USB entries): the
C call through ctypes (hwid_list_new and hwid_list_free, nothing copied) against the Python
package's hwid.rows() and, with --addon, the Node addon's list(), and with --java, the jar's
HardwareIds.list() (its classes and JNA on that class path, the library as the jar holds it,
after a warm-up for the JIT), and with --dotnet, Zef.Hwid's HardwareIds.List() under Mono (its
assembly beside a timer, the library in runtimes/linux-x64/native/), each timed inside its own
runtime on the same machine between two runs of the C call. Process start is not counted. Medians of interleaved runs.

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
# The median of RUNS lists of the addon, in milliseconds, after a first one.
NODE_TIMER = """const hwid = require(process.argv[1]), runs = Number(process.argv[2]), times = [];
hwid.list();
for (let i = 0; i < runs; i++) {
  const started = process.hrtime.bigint();
  hwid.list();
  times.push(Number(process.hrtime.bigint() - started) / 1e6);
}
console.log(times.sort((a, b) => a - b)[runs >> 1]);"""
# The same of the jar's list(), after as many for the JIT to settle.
JAVA_TIMER = """public class ListTimer {
    public static void main(String[] args) {
        int runs = Integer.parseInt(args[0]);
        double[] times = new double[runs];
        for (int i = 0; i < runs; i++) zef.hwid.HardwareIds.list();
        for (int i = 0; i < runs; i++) {
            long started = System.nanoTime();
            zef.hwid.HardwareIds.list();
            times[i] = (System.nanoTime() - started) / 1e6;
        }
        java.util.Arrays.sort(times);
        System.out.println(times[runs / 2]);
    }
}"""
DOTNET_TIMER = """static class ListTimer {
    static void Main(string[] args) {
        int runs = int.Parse(args[0]);
        var times = new double[runs];
        for (int i = 0; i < runs; i++) Zef.Hwid.HardwareIds.List();
        for (int i = 0; i < runs; i++) {
            var watch = System.Diagnostics.Stopwatch.StartNew();
            Zef.Hwid.HardwareIds.List();
            times[i] = watch.Elapsed.TotalMilliseconds;
        }
        System.Array.Sort(times);
        System.Console.WriteLine(times[runs / 2].ToString(System.Globalization.CultureInfo.InvariantCulture));
    }
}"""


def timed(call, runs):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        call()
        times.append(time.perf_counter() - started)
    return times


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
        c_times, python_times = [], []
        for _ in range(args.runs // 10):  # interleaved, so that drift hits both alike
            c_times += timed(c_list, 10)
            python_times += timed(hwid.rows, 10)
        others = {}
        if args.addon:
            others["Node list()"] = subprocess.check_output(
                ["node", "-e", NODE_TIMER, args.addon, str(args.runs)])
            c_times += timed(c_list, args.runs)
        if args.java:
            timer, natives = os.path.join(folder, "ListTimer.java"), os.path.join(folder, "natives")
            with open(timer, "w") as source:
                source.write(JAVA_TIMER)
            os.makedirs(os.path.join(natives, "linux-x86-64"))  # the jar's folder for this host
            shutil.copy(args.library, os.path.join(natives, "linux-x86-64", "libhwid.so"))
            others["Java HardwareIds.list()"] = subprocess.check_output(
                ["java", "-cp", natives + ":" + args.java, timer, str(args.runs)])
            c_times += timed(c_list, args.runs)
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
            others["Mono HardwareIds.List()"] = subprocess.check_output(
                ["mono", os.path.join(app, "ListTimer.exe"), str(args.runs)])
            c_times += timed(c_list, args.runs)
    c, python = statistics.median(c_times) * 1e3, statistics.median(python_times) * 1e3
    print("%d rows; median of %d: hwid_list_new %.3f ms, Python hwid.rows() %.3f ms (%+.1f%%)" % (
        len(rows), len(c_times), c, python, (python / c - 1) * 100))
    for name, said in others.items():
        took = float(said)
        print("%s %.3f ms (%+.1f%%), median of %d in one process of its own" % (
            name, took, (took / c - 1) * 100, args.runs))
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
