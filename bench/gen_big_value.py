#!/usr/bin/env python3
"""Appends to a system.reg a value of SIZE_MB megabytes of hex text in the version 4 host's key,
written as Wine writes hex values (lines of 25 bytes continued with a backslash).

    bench/gen_big_value.py --size-mb 600 --reg PREFIX/system.reg
"""

import argparse

ap = argparse.ArgumentParser()
ap.add_argument("--size-mb", type=int, default=600)
ap.add_argument("--reg", required=True)
args = ap.parse_args()

line = ",".join(["a5"] * 25) + ",\\\n  "
count = args.size_mb * 1000 * 1000 // len(line)
with open(args.reg, "a") as f:
    f.write('\n[Software\\\\Wow6432Node\\\\Quibex\\\\Quintrel! 4] 1796868773\n"Grande"=hex:')
    chunk = line * 10000
    for _ in range(count // 10000):
        f.write(chunk)
    f.write(line * (count % 10000))
    f.write("a5\n\"Dopo\"=\"x\"\n")
