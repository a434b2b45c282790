#!/usr/bin/env python3
"""Compares the saved outputs of two runs of the system tests, file by file:
the same files, none empty, equal bytes.

One allowance: the kernel lists a network namespace's interfaces in an order
of its own (its directory hash is seeded per namespace), so two fabrications
of the same machine can list the same NICs in different orders. The system
tests have already checked each run's order against its own directory
listing; here the NIC lines are compared as one sorted block, every other
byte in place.

Usage: same_outputs.py [--ignore NAME]... FOLDER_A FOLDER_B [FILE_THAT_MUST_BE_THERE...]
"""
import os, sys

def nic_block_sorted(data):
    lines = data.split(b"\n")
    i = 0
    while i < len(lines):
        j = i
        while j < len(lines) and lines[j].startswith(b"NIC "):
            j += 1
        lines[i:j] = sorted(lines[i:j])
        i = j + 1
    return b"\n".join(lines)

args = sys.argv[1:]
ignored = set()
while args[:1] == ["--ignore"]:
    ignored.add(args[1])
    args = args[2:]
a, b = args[:2]
required = args[2:]
names = sorted(set(os.listdir(a)) - ignored)
problems = []
if names != sorted(set(os.listdir(b)) - ignored):
    problems.append("different outputs: %s: %s; %s: %s" % (a, names, b, sorted(os.listdir(b))))
elif not set(required) <= set(names):
    problems.append("outputs missing in %s: %s" % (a, names))
else:
    for name in names:
        x = open(os.path.join(a, name), "rb").read()
        y = open(os.path.join(b, name), "rb").read()
        if not x:
            problems.append("%s/%s is empty" % (a, name))
        elif x == y:
            print("equal bytes: " + name)
        elif nic_block_sorted(x) == nic_block_sorted(y):
            print("equal bytes, NIC lines in another order: " + name)
        else:
            problems.append("%s differs:\n--- %s\n%r\n--- %s\n%r" % (name, a, x, b, y))
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
