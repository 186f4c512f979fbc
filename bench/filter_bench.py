#!/usr/bin/env python3
"""What a keystroke in the filter box costs: the real list view with N rows made in memory (one in ten with
accented or Cyrillic text), a typed sequence of 21 filter texts (words, phrases, empty fields, ranges, exclusion,
clearing), each timed from the text changing to the view painted. Three selections: Select All, 1 row in 100,
and every other row (the worst case: the selection is carried over range by range).

Usage: python3 bench/filter_bench.py [--rows N] [--runs R] [--bench PATH]
Builds tunegrove-bench (Release) in bench/out/build unless --bench names one; prints medians over the runs.
"""
import argparse
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--bench")
    args = parser.parse_args()
    bench = args.bench
    if not bench:
        build = os.path.join(HERE, "out", "build")
        print("building (Release)...", file=sys.stderr)
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "tunegrove-bench"], check=True,
                       stdout=subprocess.DEVNULL)
        bench = os.path.join(build, "bench", "tunegrove-bench")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    print(f"filter box over {args.rows} rows, median of {args.runs} runs (ms)")
    print("%-22s %10s %12s %12s %12s" % ("selection", "selected", "first key", "key median", "key max"))
    for label, step in (("Select All", 1), ("1 row in 100", 100), ("every other row", 2)):
        figures = {}
        for _ in range(args.runs):
            out = subprocess.run([bench, "filter", str(args.rows), str(step)], check=True, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
            for line in out.splitlines():
                name, value = line.split()
                figures.setdefault(name, []).append(float(value))
        m = {name: statistics.median(values) for name, values in figures.items()}
        print("%-22s %10d %12.1f %12.1f %12.1f" % (label, m["filter_selected"], m["filter_first_key_ms"],
                                                   m["filter_key_median_ms"], m["filter_key_max_ms"]))


if __name__ == "__main__":
    main()
