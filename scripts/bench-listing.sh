#!/bin/bash
# Times the listing of hwidtool as a whole process against "ip -o link show"
# on fabricated machines with growing numbers of network interfaces, and
# reports time, peak resident memory and heap per interface.
#
# Each machine lives in its own network and mount namespaces (unshare -nm):
# bridges, taps and veth pairs with chosen hardware addresses, sysfs mounted
# anew, and a USB tree on tmpfs mounted over /sys/bus whose usb/devices
# entries are symlinks into real directories, as the kernel lays them out.
# Everything disappears with the unshare process.
#
# Usage: scripts/bench-listing.sh [--binary LABEL=PATH]... [--counts "1 64 512 2048"]
#                                 [--usb ENTRIES] [--runs N] [--out DIR]
# Several --binary options time several builds side by side in the same
# machines (default: shared=build-bench/linux/cli/hwidtool). Before the
# fabricated machines, the machine this runs on is measured as it is.
# Needs iproute2, hyperfine, GNU time and python3; valgrind is optional (heap
# figures). Without root only this machine is measured, as it is.
# This is a benchmark: it reports, it never fails on slow figures.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
set -euo pipefail

SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
labels=()    # one per build, in the order given
binaries=()  # absolute paths, same order
counts="1 64 512 2048"
usb_entries=256
runs=40
out=""

# ------------------------------------------------------------------ inside --

# Interfaces in a round of bridge, tap, veth pair, so that every kind the
# kernel lists under /sys/class/net is there. No name carries a prefix the
# probe leaves out. Addresses are locally administered and all distinct.
add_interfaces() {
    local wanted=$1 made=0 i=0
    local mac
    {
        while [ "$made" -lt "$wanted" ]; do
            mac=$(printf '02:5a:%02x:%02x:%02x' $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255)))
            case $((i % 3)) in
                0)
                    echo "link add nb$i address $mac:01 type bridge"
                    made=$((made + 1)) ;;
                1)
                    echo "tuntap add dev nt$i mode tap"
                    echo "link set dev nt$i address $mac:02"
                    made=$((made + 1)) ;;
                2)
                    if [ $((wanted - made)) -ge 2 ]; then
                        echo "link add nva$i address $mac:03 type veth peer name nvb$i address $mac:04"
                        made=$((made + 2))
                    fi ;;
            esac
            i=$((i + 1))
        done
    } | ip -batch -
}

write() {
    mkdir -p "$(dirname "$1")"
    printf '%s\n' "$2" > "$1"
}

# USB devices 1-1, 1-2, ... with one interface each (two entries per device);
# every other interface is mass storage with a serial number.
lay_out_usb() {
    local entries=$1 host=/sys/devices/pci0000:00/0000:00:14.0/usb1 n dir
    mount -t tmpfs tmpfs /sys/bus
    mount -t tmpfs tmpfs /sys/devices/pci0000:00
    mkdir -p /sys/bus/usb/devices "$host"
    for ((n = 1; 2 * n <= entries; n++)); do
        dir=$host/1-$n
        write "$dir/serial" "SER$(printf '%08d' "$n")"
        write "$dir/manufacturer" "Maker $n"
        write "$dir/product" "Stick $n"
        if ((n % 2)); then
            write "$dir/1-$n:1.0/bInterfaceClass" "08"
        else
            write "$dir/1-$n:1.0/bInterfaceClass" "03"
        fi
        ln -s "../../../devices/pci0000:00/0000:00:14.0/usb1/1-$n" "/sys/bus/usb/devices/1-$n"
        ln -s "../../../devices/pci0000:00/0000:00:14.0/usb1/1-$n/1-$n:1.0" \
            "/sys/bus/usb/devices/1-$n:1.0"
    done
}

median_rss_kib() {
    local i sample="$out/rss-sample"
    for i in 1 2 3 4 5; do
        # -o names a file of its own: opening /dev/stdout would truncate it.
        /usr/bin/time -f '%M' -o "$sample" "$@" > /dev/null
        cat "$sample"
    done | sort -n | sed -n 3p
    rm -f "$sample"
}

# Times every build and ip on the machine as it stands; results go to $1.
measure() {
    local dir=$1 i commands=()
    mkdir -p "$dir"
    for i in "${!binaries[@]}"; do commands+=("${binaries[$i]}"); done
    commands+=("ip -o link show")
    hyperfine -N --style none --warmup 5 --runs "$runs" \
        --export-json "$dir/time.json" "${commands[@]}" > /dev/null 2>&1
    : > "$dir/rss"
    for i in "${!binaries[@]}"; do
        echo "${labels[$i]} $(median_rss_kib "${binaries[$i]}")" >> "$dir/rss"
    done
    echo "ip $(median_rss_kib ip -o link show)" >> "$dir/rss"
    "${binaries[0]}" | grep -c '^NIC ' > "$dir/nics" || true

    if command -v valgrind > /dev/null; then
        for i in "${!binaries[@]}"; do
            valgrind --tool=massif --massif-out-file="$dir/massif-${labels[$i]}" \
                "${binaries[$i]}" > /dev/null 2>&1
            valgrind --tool=memcheck "${binaries[$i]}" \
                2> "$dir/memcheck-${labels[$i]}" > /dev/null
        done
    fi
}

inside() {
    local count=$1
    add_interfaces "$count"
    mount -t sysfs sysfs /sys
    lay_out_usb "$usb_entries"

    # The machine must be what we think it is before its figures mean anything.
    local nics usbs
    nics=$("${binaries[0]}" | grep -c '^NIC ' || true)
    usbs=$("${binaries[0]}" | grep -c '^USB ' || true)
    if [ "$nics" -ne "$count" ] || [ "$usbs" -ne $((usb_entries / 4)) ]; then
        echo "fabricated machine with $count interfaces lists $nics NIC, $usbs USB" >&2
        exit 1
    fi
    measure "$out/$count"
}

# ----------------------------------------------------------------- outside --

report() {
    python3 - "$out" "$runs" host $counts <<'PYTHON'
import json, os, re, sys

out, runs, machines = sys.argv[1], sys.argv[2], sys.argv[3:]

def read(machine, name):
    try:
        with open(os.path.join(out, machine, name)) as f:
            return f.read()
    except OSError:
        return None

def peak_heap(machine, label):
    text = read(machine, "massif-" + label)
    if not text:
        return None
    return max(int(v) + int(e) for v, e in re.findall(
        r"mem_heap_B=(\d+)\nmem_heap_extra_B=(\d+)", text))

def allocations(machine, label):
    m = re.search(r"total heap usage: ([\d,]+) allocs", read(machine, "memcheck-" + label) or "")
    return int(m.group(1).replace(",", "")) if m else None

def cpu_ms(result):
    return (result["user"] + result["system"]) * 1000

# label -> [(machine, nics, wall ms, ip wall ms, rss, ip rss, heap, allocs, cpu ms, ip cpu ms)]
rows = {}
for machine in machines:
    results = json.loads(read(machine, "time.json"))["results"]
    rss = dict(line.split() for line in read(machine, "rss").splitlines())
    nics = int(read(machine, "nics") or 0)
    ip = results[-1]
    labels = [l for l in rss if l != "ip"]
    for label, result in zip(labels, results):
        heap, allocs = peak_heap(machine, label), allocations(machine, label)
        if not allocs:  # a static binary's malloc is out of valgrind's reach
            heap, allocs = None, None
        rows.setdefault(label, []).append((
            machine, nics, result["median"] * 1000, ip["median"] * 1000,
            int(rss[label]), int(rss["ip"]), heap, allocs, cpu_ms(result), cpu_ms(ip)))

print("%-8s %-7s %5s | %8s %8s %6s | %8s %8s %6s | %7s %7s | %8s %6s" % (
      "build", "machine", "NICs", "wall ms", "ip", "ratio", "CPU ms", "ip", "ratio",
      "RSS KiB", "ip", "heap B", "allocs"))
for label, lines in rows.items():
    for (machine, nics, ms, ip_ms, rss, ip_rss, heap, allocs, cpu, ip_cpu) in lines:
        print("%-8s %-7s %5d | %8.2f %8.2f %6.2f | %8.2f %8.2f %6.2f | %7d %7d | %8s %6s" % (
            label, machine, nics, ms, ip_ms, ip_ms / ms, cpu, ip_cpu, ip_cpu / cpu,
            rss, ip_rss, "-" if heap is None else heap, "-" if allocs is None else allocs))
print("wall: median of %s runs; CPU: mean user+system time, steadier on a busy machine;"
      " ratio = ip / hwidtool,\n>= 1.00: no slower than ip. RSS: median peak resident set of 5"
      " runs. heap: peak (valgrind massif; '-' for a static binary).\nMachine 'host' is this machine as it is; the"
      " others are fabricated with that many interfaces." % runs)
for label, lines in rows.items():
    print("%s: hwidtool / ip, median wall: %s" % (label, ", ".join(
        "%s %.2f" % (machine if machine == "host" else "%d NICs" % nics, ms / ip_ms)
        for (machine, nics, ms, ip_ms, *_) in lines)))

for label, lines in rows.items():
    fabricated = [l for l in lines if l[0] != "host"]
    if len(fabricated) < 2:
        continue
    # Flat means each stretch costs the same per added interface; the fit over
    # all machines is steadier than any one stretch.
    n = [l[1] for l in fabricated]
    def fit(ys):
        mean_n, mean_y = sum(n) / len(n), sum(ys) / len(ys)
        slope = sum((a - mean_n) * (b - mean_y) for a, b in zip(n, ys)) / \
            sum((a - mean_n) ** 2 for a in n)
        return mean_y - slope * mean_n, slope
    cpu0, cpu1 = fit([l[8] for l in fabricated])
    ip0, ip1 = fit([l[9] for l in fabricated])
    print("%s: fitted CPU time %.2f ms + %.2f us per interface (ip %.2f ms + %.2f us)"
          % (label, cpu0, cpu1 * 1000, ip0, ip1 * 1000))
    if all(l[6] is not None for l in fabricated):
        heap0, heap1 = fit([l[6] for l in fabricated])
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
PYTHON
}

main() {
    local label path
    while [ $# -gt 0 ]; do
        case "$1" in
            --binary)
                label=${2%%=*}
                path=${2#*=}
                [ "$label" != "$2" ] || label=build$((${#labels[@]} + 1))
                labels+=("$label")
                binaries+=("$(realpath "$path")")
                shift 2 ;;
            --counts) counts=$2; shift 2 ;;
            --usb) usb_entries=$2; shift 2 ;;
            --runs) runs=$2; shift 2 ;;
            --out) out=$2; shift 2 ;;
            --inside) inside_count=$2; shift 2 ;;
            *) echo "unknown argument: $1" >&2; exit 2 ;;
        esac
    done
    if [ ${#binaries[@]} -eq 0 ]; then
        labels=(shared)
        binaries=("$(realpath "$here/../build-bench/linux/cli/hwidtool")")
    fi

    if [ -n "${inside_count:-}" ]; then
        inside "$inside_count"
        return
    fi

    local binary
    for binary in "${binaries[@]}"; do
        [ -x "$binary" ] || { echo "no hwidtool at $binary (build it first)" >&2; exit 2; }
    done
    local tool
    for tool in hyperfine /usr/bin/time python3 ip; do
        command -v "$tool" > /dev/null || { echo "skipped: $tool is missing"; exit $SKIP; }
    done

    own_out=""  # global: removed at exit
    if [ -z "$out" ]; then
        out=$(mktemp -d)
        # shellcheck disable=SC2034 # read by the at_exit command when the script ends
        own_out=$out
        at_exit 'rm -rf "$own_out"'
    fi
    mkdir -p "$out"
    local i passed=()
    for i in "${!binaries[@]}"; do
        echo "${labels[$i]}: ${binaries[$i]}"
        passed+=(--binary "${labels[$i]}=${binaries[$i]}")
    done
    echo "this machine as it is ..."
    measure "$out/host"

    if [ "$(id -u)" != 0 ]; then
        echo "fabricated machines skipped: they need root (network and mount namespaces)"
        counts=""
    elif ! timeout 10 unshare -nm true 2> /dev/null; then
        echo "fabricated machines skipped: unshare -nm is not allowed here"
        counts=""
    else
        echo "fabricated machines: $counts interfaces, $usb_entries USB entries each"
    fi
    local count
    for count in $counts; do
        echo "  $count interfaces ..."
        timeout 900 unshare -nm --propagation private \
            "$0" --inside "$count" "${passed[@]}" --usb "$usb_entries" \
            --runs "$runs" --out "$out"
    done
    report
}

main "$@"
