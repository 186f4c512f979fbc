#!/usr/bin/env python3
"""One tag write into a large FLAC, Ogg Vorbis or M4A file: peak memory (RSS) and wall time of
`tunegrove-cli set --title` against mutagen doing the same, alternating runs on the same file (warm cache).

Usage: /usr/bin/python3 bench/bigfile_bench.py [--mb N] [--runs R] [--cli PATH] [--dir DIR] [--formats flac,m4a]
Needs flac (ffmpeg for m4a, oggenc for ogg) and python3-mutagen. The file is made from noise, so it stays about
N MB once encoded.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

MUTAGEN = r"""
import sys, mutagen
f = mutagen.File(sys.argv[1])
if f.tags is None:
    f.add_tags()
key = "\xa9nam" if sys.argv[1].endswith(".m4a") else "title"
f.tags[key] = [sys.argv[2]]
f.save()
"""


def make(path, mb, fmt):
    raw = path + ".raw"
    # Written by a child of its own: a child's peak RSS starts from its parent's, which must stay small.
    subprocess.run(["head", "-c", str(mb * 1024 * 1024 // 4 * 4), "/dev/urandom"], stdout=open(raw, "wb"), check=True)
    raw_args = ["-f", "s16le", "-ar", "44100", "-ac", "2", "-i", raw]
    if fmt == "flac":
        subprocess.run(["flac", "-0", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                        "--channels=2", "--bps=16", "--sample-rate=44100", "-o", path, raw], check=True)
    elif fmt == "ogg":
        subprocess.run(["oggenc", "-Q", "-r", "-q", "10", "-o", path, raw], check=True)
    else:
        subprocess.run(["ffmpeg", "-v", "error", "-y", *raw_args, "-c:a", "alac", path], check=True)
    os.remove(raw)


def timed(argv, env):
    """Wall seconds and peak RSS (MiB) of one child, from its own resource use (wait4). A child's peak starts at
    this process's size when it was started: the `true` line shows that floor."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("%s failed (%d)" % (argv[0], child.returncode))
    return wall, usage.ru_maxrss / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mb", type=int, default=600)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cli", default=os.path.join(HERE, "..", "build", "src", "cli", "tunegrove-cli"))
    parser.add_argument("--dir", default=None)
    parser.add_argument("--formats", default="flac,m4a")
    args = parser.parse_args()
    work = tempfile.mkdtemp(dir=args.dir, prefix="bigfile-bench-")
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"), XDG_CACHE_HOME=os.path.join(work, "cache"))
    print("floor: /bin/true peak RSS %.1f MiB" % timed(["/bin/true"], env)[1])
    for fmt in args.formats.split(","):
        path = os.path.join(work, "big." + fmt)
        make(path, args.mb, fmt)
        size = os.path.getsize(path) / 1048576.0
        ours, theirs = [], []
        for run in range(args.runs):
            ours.append(timed([args.cli, "set", "--title", "title %d" % run, path], env))
            theirs.append(timed([sys.executable, "-c", MUTAGEN, path, "mutagen %d" % run], env))
        for name, rows in (("tunegrove-cli set --title", ours), ("mutagen", theirs)):
            print("%-4s %7.0f MB  %-26s median %6.2f s  peak RSS median %7.1f MiB" %
                  (fmt, size, name, statistics.median(r[0] for r in rows), statistics.median(r[1] for r in rows)))
        print("%-4s ratio tunegrove / mutagen: time %.2fx, memory %.2fx" %
              (fmt, statistics.median(r[0] for r in ours) / statistics.median(r[0] for r in theirs),
               statistics.median(r[1] for r in ours) / statistics.median(r[1] for r in theirs)))
        os.remove(path)
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
