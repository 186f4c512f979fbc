#!/usr/bin/env python3
"""What the undo journal costs a batch: `tunegrove-cli normalize` over N small tagged MP3 files, with the journal
and with it switched off (its folder made unwritable), alternating runs; prints the medians and their ratio.

Usage: python3 bench/journal_bench.py [--files N] [--runs R] [--cli PATH]
Only the standard library is used; the files are made in a temporary folder.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import tempfile
import time

FRAME = struct.pack(">I", 0xFFFB9064) + bytes(413)


def tagged(title, padding=512):
    body = b"\x00" + title.encode()
    frame = b"TIT2" + struct.pack(">I", len(body)) + b"\x00\x00" + body
    size = len(frame) + padding
    synchsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + synchsafe + frame + bytes(padding) + FRAME * 4


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cli", default=os.path.join(here, "..", "build", "src", "cli", "tunegrove-cli"))
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tg-journal-bench-")
    try:
        blocked = os.path.join(work, "blocked")
        open(blocked, "w").close()   # a file where the journal's folder would go: no journal
        times = {"journal": [], "no journal": []}
        for run in range(args.runs):
            for mode in ("journal", "no journal"):
                folder = os.path.join(work, "files")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                files = []
                for i in range(args.files):
                    path = os.path.join(folder, f"{i:05d}.mp3")
                    with open(path, "wb") as out:
                        out.write(tagged(f"the SONG number {i}"))
                    files.append(path)
                env = dict(os.environ)
                env["XDG_STATE_HOME"] = os.path.join(work, "state") if mode == "journal" else blocked
                started = time.perf_counter()
                subprocess.run([args.cli, "normalize", *files], env=env, check=False,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                times[mode].append(time.perf_counter() - started)
        for mode, values in times.items():
            print(f"{mode:11s} median {statistics.median(values) * 1000:8.1f} ms  ({args.files} files, {args.runs} runs)")
        print(f"ratio journal / no journal: {statistics.median(times['journal']) / statistics.median(times['no journal']):.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
