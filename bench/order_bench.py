#!/usr/bin/env python3
"""Listing order benchmark: what putting each folder's entries in natural name order costs a listing.

Runs two tunegrove-cli programs side by side, interleaved run by run, over corpora it makes itself:
  - 100,000 small tagged MP3 files in album folders (list_bench.py's corpus), and
  - one flat folder of 30,000 files (the most a single sort has to do),
each listed from the tag cache (warm: the case where the folder reading is most of the work) and without it.
Prints the median of each and the ratio after/before.

Usage: python3 bench/order_bench.py --before OLD_CLI [--after NEW_CLI] [--runs N] [--out DIR]
OLD_CLI is a tunegrove-cli built from an earlier commit (git worktree add /tmp/before REV; build it there).
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import list_bench  # noqa: E402  (the corpus maker)


def flat_corpus(folder, count):
    if os.path.exists(os.path.join(folder, ".complete")):
        return
    os.makedirs(folder, exist_ok=True)
    frames = list_bench.text_frame("TIT2", "Song", False)
    tag = b"ID3\x03\x00\x00" + list_bench.synchsafe(len(frames)) + frames
    # Created in an order the natural sort has to undo.
    for i in reversed(range(count)):
        with open(os.path.join(folder, "Track %d.mp3" % (i * 7919 % count)), "wb") as f:
            f.write(tag + list_bench.FRAME * 2)
    open(os.path.join(folder, ".complete"), "w").close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", default=os.path.join(os.path.dirname(HERE), "build", "src", "cli", "tunegrove-cli"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    print("making corpora...", file=sys.stderr)
    albums = os.path.join(out, "corpus100k")
    flat = os.path.join(out, "flat30k")
    list_bench.make_corpus(albums, 100000, 2)
    flat_corpus(flat, 30000)
    settings = os.path.join(out, "settings.ini")
    open(settings, "w").close()
    programs = {"before": args.before, "after": args.after}
    envs = {name: dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CACHE_HOME=os.path.join(out, "cache-" + name))
            for name in programs}
    print("%-34s %10s %10s %7s" % ("listing", "before s", "after s", "ratio"))
    for label, folder in (("100k in album folders", albums), ("30k in one folder", flat)):
        for cache in (True, False):
            times = {name: [] for name in programs}
            outputs = {}
            for name, cli in programs.items():   # one run each to fill its cache
                subprocess.run([cli, "list", "-r", "--settings-file", settings, folder], check=True,
                               stdout=subprocess.DEVNULL, env=envs[name])
            for _ in range(args.runs):
                for name, cli in programs.items():
                    cmd = [cli, "list", "-r", "--settings-file", settings] + ([] if cache else ["--no-cache"]) + [folder]
                    start = time.perf_counter()
                    outputs[name] = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, env=envs[name]).stdout
                    times[name].append(time.perf_counter() - start)
            before, after = statistics.median(times["before"]), statistics.median(times["after"])
            assert sorted(outputs["before"].splitlines()) == sorted(outputs["after"].splitlines()), "different rows"
            print("%-34s %10.3f %10.3f %7.2f" % (label + (", tag cache" if cache else ", no cache"), before, after,
                                                 after / before))


if __name__ == "__main__":
    main()
