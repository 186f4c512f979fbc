#!/usr/bin/env python3
"""Listing benchmark: makes its own corpus of small tagged MP3 files and prints median figures, side by side:

  (a) a floor program that only opens each file and reads its first 10 bytes, its tag and its last 128 bytes;
  (b) tunegrove-cli list -r over the same files (20,000 and 100,000);
  (c) the 100,000 list alone, with a second copy (add-list mode: every row checked against 100,000 more),
      and with the same folder twice (every file a duplicate the second time);
  (d) sorting 100,000 rows by one and by three columns;
  (e) memory per row at 100,000 rows;
  (f) the longest the GUI event loop stays blocked while the list view lists 100,000 files, and how soon the
      first rows show;
  (i) a group edit of 5,000 of 100,000 listed rows and its undo in the window: time, longest stall, GUI CPU;
  (h) the 100,000 list read on every core against one core (taskset -c 0), both without the tag cache, and a
      relist from the tag cache against the cold listing and a walk that only reads the folders and lstats every
      entry (also while other processes keep every core busy), and what SQLite alone costs that relist.
(a)-(c) and (g) read every file (--no-cache); the tag cache used in (h) is kept in DIR/cache.

  (m) with --million instead: 1,000,000 files in 50,000 folders (made once, about 4.5 GB of disk in DIR) against
      the 100,000 corpus: cold and warm listing per file, the walk floor, the window's warm listing (first rows,
      longest stall, peak memory), the filter box over 1,000,000 rows, and the memory of a sorted listing.

Usage: python3 bench/list_bench.py [--runs N] [--out DIR] [--million]
Only the standard library is used. The corpus is kept in DIR (default bench/out) and reused when present.
"""
import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

FRAME = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes((i * 7) % 251 for i in range(413))
WORDS = ["Love", "Night", "River", "Stone", "Blue", "Fire", "Dream", "Road", "Heart", "Light", "Rain", "Gold"]
ACCENTED = ["Café", "Niño", "Über", "Ångström", "Привет", "東京", "Ça va", "Dvořák", "Żółw", "Ελλάδα"]


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def text_frame(fid, text, utf16):
    if utf16:
        body = b"\x01" + text.encode("utf-16")
    else:
        try:
            body = b"\x00" + text.encode("latin-1")
        except UnicodeEncodeError:
            body = b"\x01" + text.encode("utf-16")
    return fid.encode() + struct.pack(">I", len(body)) + b"\x00\x00" + body


def v1(title, artist, album, year, track, genre):
    def f(s, n):
        return s.encode("latin-1", "replace")[:n].ljust(n, b"\x00")
    return b"TAG" + f(title, 30) + f(artist, 30) + f(album, 30) + f(year, 4) + f("", 28) + b"\x00" + bytes([track, genre])


def make_corpus(folder, count, seed, per_folder=10):
    if os.path.exists(os.path.join(folder, ".complete")):
        return
    shutil.rmtree(folder, ignore_errors=True)
    rnd = random.Random(seed)
    made = 0
    album_no = 0
    while made < count:
        album_no += 1
        special = rnd.random() < 0.10
        artist = (rnd.choice(ACCENTED) if special else rnd.choice(WORDS)) + " " + str(album_no % 997)
        album = rnd.choice(WORDS) + " " + rnd.choice(WORDS) + " " + str(album_no)
        path = os.path.join(folder, artist, album)
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "folder.jpg"), "wb") as f:
            f.write(b"\xff\xd8\xff\xe0" + bytes(200))
        for track in range(1, per_folder + 1):
            if made >= count:
                break
            title = rnd.choice(WORDS) + " " + (rnd.choice(ACCENTED) if special else rnd.choice(WORDS))
            ext = ".MP3" if rnd.random() < 0.05 else ".mp3"
            name = "%02d %s%s" % (track, title, ext)
            kind = rnd.random()
            year = str(1960 + rnd.randrange(60))
            if kind < 0.10:   # ID3v1 only
                data = FRAME * 4 + v1(title, artist, album, year, track, rnd.randrange(126))
            else:
                utf16 = kind < 0.25
                frames = (text_frame("TIT2", title, utf16) + text_frame("TPE1", artist, utf16) +
                          text_frame("TALB", album, utf16) + text_frame("TYER", year, False) +
                          text_frame("TRCK", "%d/10" % track, False) +
                          text_frame("TCON", "(%d)" % rnd.randrange(126), False))
                tag = b"ID3\x03\x00\x00" + synchsafe(len(frames) + 256) + frames + bytes(256)
                data = tag + FRAME * 4
            with open(os.path.join(path, name), "wb") as f:
                f.write(data)
            made += 1
    open(os.path.join(folder, ".complete"), "w").close()


def timed(cmd, runs, env=None):
    times = []
    out = b""
    for _ in range(runs):
        start = time.perf_counter()
        out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, env=env).stdout
        times.append(time.perf_counter() - start)
    return statistics.median(times), out


def peak_mb(cmd, env):
    """Runs a command; its peak resident memory in MiB."""
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        sys.exit("failed: %s" % " ".join(cmd))
    return usage.ru_maxrss / 1024


def million(args, out, cli, bench, floor):
    """1,000,000 files in 50,000 folders against the 100,000 corpus: cold and warm listings per file, the window's
    warm listing, the filter box over 1,000,000 rows, and the memory a sorted listing takes."""
    print("making corpus (1,000,000 files, about 4.5 GB of disk; kept for the next run)...", file=sys.stderr)
    c100 = os.path.join(out, "corpus100k")
    c1m = os.path.join(out, "corpus1m")
    make_corpus(c100, 100000, 2)
    make_corpus(c1m, 1000000, 3, per_folder=20)
    settings = os.path.join(out, "settings.ini")
    open(settings, "w").close()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CACHE_HOME=os.path.join(out, "cache-million"))
    listing = lambda folder, cache: [cli, "list", "-r", "--settings-file", settings] + ([] if cache else ["--no-cache"]) + [folder]
    runs = max(1, args.runs // 2)
    for folder in (c100, c1m):   # into the page cache, as the other figures have them
        subprocess.run([floor, folder], check=True, stdout=subprocess.DEVNULL)
    figures = {}
    for label, folder, n in (("100k", c100, 100000), ("1M", c1m, 1000000)):
        t_cold, cold = timed(listing(folder, False), runs, env)
        subprocess.run(listing(folder, True), check=True, stdout=subprocess.DEVNULL, env=env)   # fills the cache
        t_warm, warm = timed(listing(folder, True), runs, env)
        t_walk, _ = timed([floor, "--walk-only", folder], runs)
        figures[label] = (n, cold.count(b"\n"), t_cold, t_warm, t_walk, warm == cold)
    print("\n(m) 1,000,000 files, median of %d runs" % runs)
    print("%-5s %9s %9s %12s %12s %10s %10s %s" % ("", "rows", "cold s", "cold us/file", "warm s", "warm/walk",
                                                  "walk s", "warm rows = cold rows"))
    for label in ("100k", "1M"):
        n, rows, t_cold, t_warm, t_walk, same = figures[label]
        print("%-5s %9d %9.2f %12.2f %12.2f %10.2f %10.2f %s" % (label, rows, t_cold, 1e6 * t_cold / n, t_warm,
                                                                t_warm / t_walk, t_walk, same))
    small, big = figures["100k"], figures["1M"]
    print("per-file cost 1M / 100k: cold %.2f, warm %.2f (1.00 is linear)" %
          ((big[2] / big[0]) / (small[2] / small[0]), (big[3] / big[0]) / (small[3] / small[0])))
    print("list -r --sort artist,title of 1M: peak %.0f MiB" %
          peak_mb([cli, "list", "-r", "--sort", "artist,title", "--settings-file", settings, c1m], env))
    for cmd in ([bench, "gui", c1m], [bench, "filter", "1000000"]):
        result = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        sys.stdout.write(result.stdout.decode())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--million", action="store_true")
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)

    build = os.path.join(out, "build")
    print("building (Release)...", file=sys.stderr)
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "tunegrove-cli", "tunegrove-bench"], check=True,
                   stdout=subprocess.DEVNULL)
    cli = os.path.join(build, "src", "cli", "tunegrove-cli")
    bench = os.path.join(build, "bench", "tunegrove-bench")
    floor = os.path.join(out, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "floor.c")], check=True)

    if args.million:
        million(args, out, cli, bench, floor)
        return

    print("making corpus...", file=sys.stderr)
    c20 = os.path.join(out, "corpus20k")
    c100 = os.path.join(out, "corpus100k")
    c100b = os.path.join(out, "corpus100k-copy")
    make_corpus(c20, 20000, 1)
    make_corpus(c100, 100000, 2)
    make_corpus(c100b, 100000, 2)
    settings = os.path.join(out, "settings.ini")
    open(settings, "w").close()   # defaults: avi, mp3, wav
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CACHE_HOME=os.path.join(out, "cache"))

    def cli_list(*folders, cache=False):
        return [cli, "list", "-r", "--settings-file", settings] + ([] if cache else ["--no-cache"]) + list(folders)

    rows = {}
    # Warm the cache once.
    for folder in (c20, c100, c100b):
        subprocess.run([floor, folder], check=True, stdout=subprocess.DEVNULL)

    results = []
    for label, folder, n in (("20k", c20, 20000), ("100k", c100, 100000)):
        t_floor, _ = timed([floor, folder], args.runs)
        t_cli, listing = timed(cli_list(folder), args.runs)
        rows[label] = listing.count(b"\n")
        results.append((label, n, t_floor, t_cli))

    print("\n(a)+(b) listing, median of %d warm runs" % args.runs)
    print("%-6s %8s %10s %10s %12s %12s %8s" % ("corpus", "files", "floor s", "cli s", "floor f/s", "cli f/s", "cli/floor"))
    for label, n, t_floor, t_cli in results:
        print("%-6s %8d %10.3f %10.3f %12.0f %12.0f %8.2f" % (label, n, t_floor, t_cli, n / t_floor, n / t_cli, t_cli / t_floor))
    print("rows listed: 20k -> %d, 100k -> %d" % (rows["20k"], rows["100k"]))
    print("100k/20k cost ratio: cli %.2f, floor %.2f (5.0 is linear)" %
          (results[1][3] / results[0][3], results[1][2] / results[0][2]))

    t_one, _ = timed(cli_list(c100), args.runs)
    t_two, two = timed(cli_list(c100, c100b), args.runs)
    t_same, same = timed(cli_list(c100, c100), args.runs)
    print("\n(c) duplicate test, median of %d runs" % args.runs)
    print("100k alone:                %.3f s  (%d rows)" % (t_one, rows["100k"]))
    print("100k + second copy (200k): %.3f s  (%d rows, %.2f x the time of 100k)" % (t_two, two.count(b"\n"), t_two / t_one))
    print("100k + same folder again:  %.3f s  (%d rows)" % (t_same, same.count(b"\n")))

    # (g) a report costs a sort and a pass over the rows in memory on top of the listing.
    report = [cli, "report", "--format", "html", "--group", "artist", "--tags", "-r", "--no-cache", "--settings-file", settings,
              "-o", os.path.join(out, "report.html"), c100]
    t_list, _ = timed(cli_list(c100), args.runs)
    t_report, _ = timed(report, args.runs)
    print("\n(g) report of 100k files, median of %d runs" % args.runs)
    print("list %.3f s, report (html, by artist, with tags) %.3f s: %.2f x the listing" % (t_list, t_report, t_report / t_list))
    # The same from the tag cache (filled by a first run): what a user who lists often sees.
    cached_report = [c for c in report if c != "--no-cache"]
    subprocess.run(cached_report, check=True, stdout=subprocess.DEVNULL, env=env)
    t_list_cached, _ = timed(cli_list(c100, cache=True), args.runs, env=env)
    t_report_cached, _ = timed(cached_report, args.runs, env=env)
    print("from the tag cache: list %.3f s, report %.3f s: %.2f x the cached listing" %
          (t_list_cached, t_report_cached, t_report_cached / t_list_cached))

    # (h) every core against one, and the tag cache against the cold listing and the walk-only floor.
    t_cores, _ = timed(cli_list(c100), args.runs, env=env)
    t_core, _ = timed(["taskset", "-c", "0"] + cli_list(c100), args.runs, env=env)
    subprocess.run(cli_list(c100, cache=True), check=True, stdout=subprocess.DEVNULL, env=env)   # fills the cache
    t_warm, warm = timed(cli_list(c100, cache=True), args.runs, env=env)
    _, cold = timed(cli_list(c100), 1, env=env)
    t_walk, _ = timed([floor, "--walk-only", c100], args.runs)
    print("\n(h) 100k listing, median of %d runs" % args.runs)
    print("cold, every core %.3f s; one core %.3f s: %.2f x" % (t_cores, t_core, t_cores / t_core))
    print("relist from the cache %.3f s: %.2f x the cold listing, %.2f x the walk-only floor (%.3f s)" %
          (t_warm, t_warm / t_cores, t_warm / t_walk, t_walk))
    print("rows from the cache byte-identical to a cold listing: %s" % (warm == cold))
    # The same relist and walk, taken in turns, while as many other processes as there are cores spin.
    busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 2)]
    try:
        relists, walks = [], []
        for _ in range(args.runs):
            relists.append(timed(cli_list(c100, cache=True), 1, env=env)[0])
            walks.append(timed([floor, "--walk-only", c100], 1)[0])
    finally:
        for proc in busy:
            proc.kill()
            proc.wait()
    t_busy_warm, t_busy_walk = statistics.median(relists), statistics.median(walks)
    print("with %d other processes busy on the cores: relist %.3f s, walk-only floor %.3f s: %.2f x" %
          (len(busy), t_busy_warm, t_busy_walk, t_busy_warm / t_busy_walk))
    # The least a relist from this cache spends in SQLite: the same queries, nothing built from the rows.
    scan = subprocess.run([bench, "cachescan", os.path.join(out, "cache", "Kestrine", "Tunegrove", "tags.sqlite"), c100],
                          check=True, stdout=subprocess.PIPE, text=True, env=env).stdout
    figures = dict(line.split() for line in scan.splitlines() if len(line.split()) == 2)
    print("SQLite alone, the rows of %s folders read as a relist reads them: %s s (%.0f%% of the relist; the walk "
          "itself: %.3f s)" % (figures["folders"], figures["cache_scan_s"], 100 * float(figures["cache_scan_s"]) / t_warm,
                               t_walk))

    print("\n(d) sort of 100,000 rows (median of 5), (e) memory, (f) GUI event loop")
    for cmd in ([bench, "sort", "100000"], [bench, "memory", c100], [bench, "gui", c100]):
        result = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        sys.stdout.write(result.stdout.decode())

    # A group edit of 5,000 of the 100,000 listed rows and Edit > Undo of it, in the window: the longest stall of
    # the event loop and the GUI thread's CPU time (the undo puts every byte back, so the copy stays as made).
    print("\n(i) group edit of 5,000 of 100,000 rows and its undo in the window")
    batch_env = dict(env, XDG_STATE_HOME=os.path.join(out, "batch-state"))
    result = subprocess.run([bench, "batch", c100b, "5000"], check=True, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=batch_env)
    sys.stdout.write(result.stdout.decode())


if __name__ == "__main__":
    main()
