#!/usr/bin/env python3
"""Batch tag writes side by side: `tunegrove-cli set --album` and `tunegrove-cli normalize` over N tagged MP3 files
against mutagen doing the same change in one Python process, alternating runs on fresh copies of the same files;
every file is checked afterwards. The undo journal is on (its own folder), as a user has it.

Usage: /usr/bin/python3 bench/write_bench.py [--files N] [--runs R] [--cli PATH] [--dir DIR] [--big-folder]
                                            [--format mp3|flac|m4a|ogg] [--load]
--format flac writes FLAC files (made once with the flac encoder, about 170 KB each) against mutagen and metaflac;
--format m4a M4A files (made once with ffmpeg, about 160 KB each, tagged by mutagen) against mutagen; --format ogg
Ogg Vorbis files (made once with oggenc, tagged by mutagen) against mutagen. Each format runs `set --album` and
`normalize`, and the undo of each.
--load runs every timed command while another process writes 2 GB to the same file system (as a download or a
build beside the user's batch); it needs that much free disk.
--big-folder instead compares 5,000 writes that grow the tag (each file rewritten through a working copy) in a
folder of their own with the same writes in a folder of 100,000 files (about 60 MB of disk).
Needs python3-mutagen (Debian). The files are made in DIR (default: a temporary folder on the same file system as
/tmp); the medians and the ratios tunegrove / mutagen are printed.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

FRAME = struct.pack(">I", 0xFFFB9064) + bytes(413)
HERE = os.path.dirname(os.path.abspath(__file__))

MUTAGEN_SET = r"""
import sys
from mutagen.id3 import ID3, TALB
for path in sys.argv[2:]:
    tag = ID3(path)
    tag.setall("TALB", [TALB(encoding=3, text=sys.argv[1])])
    tag.save(path, v2_version=3)
"""

MUTAGEN_NORMALIZE = r"""
import sys
from mutagen.id3 import ID3
def tidy(text):
    return " ".join(word[:1].upper() + word[1:].lower() for word in text.split())
for path in sys.argv[1:]:
    tag = ID3(path)
    changed = False
    for key in ("TALB", "TPE1", "TIT2"):
        frame = tag.get(key)
        if frame is not None:
            new = [tidy(str(t)) for t in frame.text]
            if new != [str(t) for t in frame.text]:
                frame.text = new
                changed = True
    for frame in tag.getall("COMM"):
        new = [tidy(str(t)) for t in frame.text]
        if new != [str(t) for t in frame.text]:
            frame.text = new
            changed = True
    if changed:
        tag.save(path, v2_version=3)
"""


def text_frame(fid, text):
    body = b"\x01" + "\ufeff".encode("utf-16-le") + text.encode("utf-16-le") if not text.isascii() else b"\x00" + text.encode()
    return fid + struct.pack(">I", len(body)) + b"\x00\x00" + body


def tagged(i, padding=1024):
    frames = (text_frame(b"TIT2", f"the SONG  number {i}") + text_frame(b"TPE1", f"some ARTIST {i % 50}") +
              text_frame(b"TALB", f"an album {i % 300}") + text_frame(b"TYER", str(1960 + i % 60)) +
              text_frame(b"TRCK", str(i % 20 + 1)) + text_frame(b"TCON", "(17)"))
    comm = b"\x00eng\x00" + f"ripped  from CD {i}".encode()
    frames += b"COMM" + struct.pack(">I", len(comm)) + b"\x00\x00" + comm
    size = len(frames) + padding
    synchsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + synchsafe + frames + bytes(padding) + FRAME * 24


def make(folder, count):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    files = []
    for i in range(count):
        path = os.path.join(folder, f"{i:05d}.mp3")
        with open(path, "wb") as out:
            out.write(tagged(i))
        files.append(path)
    os.sync()
    return files


def check_album(files, album):
    from mutagen.id3 import ID3
    bad = [p for p in files if str(ID3(p)["TALB"].text[0]) != album]
    if bad:
        sys.exit(f"{len(bad)} files without the new album, e.g. {bad[0]}")


def check_normalized(files):
    from mutagen.id3 import ID3
    for p in files:
        tag = ID3(p)
        title = str(tag["TIT2"].text[0])
        if not title.startswith("The Song Number"):
            sys.exit(f"{p}: title {title!r} not tidied")


# FLAC and M4A through mutagen's generic file: argv[1] is the album key ("album", "\xa9alb"), argv[2] the album.
MUTAGEN_OTHER_SET = r"""
import sys, mutagen
for path in sys.argv[3:]:
    f = mutagen.File(path)
    f[sys.argv[1]] = [sys.argv[2]]
    f.save()
"""


# The same tidying of the title, artist, album and comment as MUTAGEN_NORMALIZE; argv[1]: the keys, comma-separated.
MUTAGEN_OTHER_NORMALIZE = r"""
import sys, mutagen
def tidy(text):
    return " ".join(word[:1].upper() + word[1:].lower() for word in text.split())
keys = sys.argv[1].split(",")
for path in sys.argv[2:]:
    f = mutagen.File(path)
    changed = False
    for key in keys:
        if key in f:
            old = [str(v) for v in f[key]]
            new = [tidy(v) for v in old]
            if new != old:
                f[key] = new
                changed = True
    if changed:
        f.save()
"""


def check_other_normalized(files, key):
    import mutagen
    bad = [p for p in files if mutagen.File(p).get(key) != ["The Song"]]
    if bad:
        sys.exit(f"{len(bad)} files not tidied, e.g. {bad[0]}")


def check_other_album(files, key, album):
    import mutagen
    bad = [p for p in files if mutagen.File(p).get(key) != [album]]
    if bad:
        sys.exit(f"{len(bad)} files without the new album, e.g. {bad[0]}")


def flac_seed(work):
    """A FLAC file of ten seconds of noise-like mono audio, tagged, with the encoder's padding."""
    seed = os.path.join(work, "seed.flac")
    if not os.path.exists(seed):
        samples = bytes((i * 7919 + (i >> 3) * 31) & 0xFF for i in range(160000))
        subprocess.run(["flac", "-s", "--force-raw-format", "--endian=little", "--sign=signed", "--channels=1",
                        "--bps=16", "--sample-rate=8000", "-o", seed, "-"], input=samples, check=True)
        subprocess.run(["metaflac", "--set-tag=TITLE=the SONG", "--set-tag=ARTIST=some ARTIST",
                        "--set-tag=ALBUM=an album", seed], check=True)
    return seed


def m4a_seed(work):
    """An AAC file of ten seconds, tagged by mutagen (which leaves a free box beside the tags)."""
    seed = os.path.join(work, "seed.m4a")
    if not os.path.exists(seed):
        subprocess.run(["ffmpeg", "-v", "quiet", "-f", "lavfi", "-i", "sine=frequency=440:duration=10", "-c:a", "aac",
                        "-b:a", "128k", seed], check=True)
        from mutagen.mp4 import MP4
        f = MP4(seed)
        f["\xa9nam"] = ["the SONG"]
        f["\xa9ART"] = ["some ARTIST"]
        f["\xa9alb"] = ["an album"]
        f.save()
    return seed


def ogg_seed(work):
    """An Ogg Vorbis file of ten seconds of noise-like mono audio, tagged by mutagen (which leaves room in the
    comment packet)."""
    seed = os.path.join(work, "seed.ogg")
    if not os.path.exists(seed):
        samples = bytes((i * 7919 + (i >> 3) * 31) & 0xFF for i in range(160000))
        subprocess.run(["oggenc", "-Q", "-r", "-B", "16", "-C", "1", "-R", "8000", "-o", seed, "-"], input=samples,
                       check=True)
        from mutagen.oggvorbis import OggVorbis
        f = OggVorbis(seed)
        f.update({"title": "the SONG", "artist": "some ARTIST", "album": "an album"})
        f.save()
    return seed


def make_flac(folder, count, seed):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    files = []
    for i in range(count):
        path = os.path.join(folder, f"{i:05d}" + os.path.splitext(seed)[1])
        shutil.copyfile(seed, path)
        files.append(path)
    os.sync()
    return files


def start_load(work):
    """Another program writing 2 GB beside the batch; given a moment to get going."""
    writer = subprocess.Popen(["dd", "if=/dev/zero", "of=" + os.path.join(work, "load.bin"), "bs=1M", "count=2048"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    return writer


def stop_load(writer, work):
    if writer is None:
        return
    writer.kill()
    writer.wait()
    os.remove(os.path.join(work, "load.bin"))


def big_folder(args, work, env):
    """5,000 growing-tag writes alone in a folder, and the same among 95,000 other files."""
    count, others = 5000, 95000
    runs = {"folder of 5,000": [], "folder of 100,000": []}
    big = os.path.join(work, "big")
    os.makedirs(big, exist_ok=True)
    marker = os.path.join(big, ".others")
    if not os.path.exists(marker):
        for i in range(others):
            with open(os.path.join(big, f"other {i:06d}.txt"), "wb") as out:
                out.write(b"x")
        open(marker, "w").close()
    small = os.path.join(work, "small")
    for run in range(args.runs):
        for label, folder in (("folder of 5,000", small), ("folder of 100,000", big)):
            os.makedirs(folder, exist_ok=True)
            files = []
            for i in range(count):
                path = os.path.join(folder, f"{i:05d}.mp3")
                with open(path, "wb") as out:
                    out.write(tagged(i, padding=0))   # no room: every write makes a working copy
                files.append(path)
            os.sync()
            album = "an album name long enough to grow every tag %d" % run
            started = time.perf_counter()
            result = subprocess.run([args.cli, "set", "--album", album, *files], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE)
            elapsed = time.perf_counter() - started
            if result.returncode != 0:
                sys.exit(f"set in the {label} failed: {result.stderr.decode()[:500]}")
            check_album(files, album)
            for path in files:
                os.remove(path)
            runs[label].append(elapsed)
            print(f"run {run + 1} {label:18s} {elapsed:7.3f} s", file=sys.stderr)
    a, b = statistics.median(runs["folder of 5,000"]), statistics.median(runs["folder of 100,000"])
    print(f"{count} growing-tag writes, median of {args.runs}: folder of 5,000 {a:.3f} s, folder of 100,000 {b:.3f} s, "
          f"ratio {b / a:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cli", default=os.path.join(HERE, "..", "build", "src", "cli", "tunegrove-cli"))
    parser.add_argument("--dir")
    parser.add_argument("--big-folder", action="store_true")
    parser.add_argument("--format", default="mp3", choices=["mp3", "flac", "m4a", "ogg"])
    parser.add_argument("--load", action="store_true")
    args = parser.parse_args()
    work = args.dir or tempfile.mkdtemp(prefix="tg-write-bench-")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
    if args.big_folder:
        try:
            big_folder(args, work, env)
        finally:
            if not args.dir:
                shutil.rmtree(work, ignore_errors=True)
        return
    folder = os.path.join(work, "files")
    py = "/usr/bin/python3"
    jobs = {
        "set --album": [
            ("tunegrove", lambda f: [args.cli, "set", "--album", "Bench Album", *f], lambda f: check_album(f, "Bench Album")),
            ("mutagen", lambda f: [py, "-c", MUTAGEN_SET, "Bench Album", *f], lambda f: check_album(f, "Bench Album")),
        ],
        "normalize": [
            ("tunegrove", lambda f: [args.cli, "normalize", *f], check_normalized),
            ("mutagen", lambda f: [py, "-c", MUTAGEN_NORMALIZE, *f], check_normalized),
        ],
    }
    seed = None
    if args.format != "mp3":
        seed = {"flac": flac_seed, "m4a": m4a_seed, "ogg": ogg_seed}[args.format](work)
        mp4 = args.format == "m4a"
        album, key = "Bench Album", "\xa9alb" if mp4 else "album"
        check = lambda f: check_other_album(f, key, album)
        tools = [("tunegrove", lambda f: [args.cli, "set", "--album", album, *f], check),
                 ("mutagen", lambda f: [py, "-c", MUTAGEN_OTHER_SET, key, album, *f], check)]
        if args.format == "flac":
            tools.append(("metaflac", lambda f: ["metaflac", "--remove-tag=ALBUM", f"--set-tag=ALBUM={album}", *f], check))
        keys = "\xa9nam,\xa9ART,\xa9alb,\xa9cmt" if mp4 else "title,artist,album,comment"
        tidied = lambda f: check_other_normalized(f, "\xa9nam" if mp4 else "title")
        jobs = {"set --album": tools,
                "normalize": [("tunegrove", lambda f: [args.cli, "normalize", *f], tidied),
                              ("mutagen", lambda f: [py, "-c", MUTAGEN_OTHER_NORMALIZE, keys, *f], tidied)]}
    times = {(job, tool): [] for job in jobs for tool, _, _ in jobs[job]}
    undos = {}
    try:
        for run in range(args.runs):
            for job, tools in jobs.items():
                for tool, command, check in tools:
                    files = make(folder, args.files) if seed is None else make_flac(folder, args.files, seed)
                    writer = start_load(work) if args.load else None
                    started = time.perf_counter()
                    result = subprocess.run(command(files), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    elapsed = time.perf_counter() - started
                    stop_load(writer, work)
                    if result.returncode != 0:
                        sys.exit(f"{tool} {job} failed: {result.stderr.decode()[:500]}")
                    check(files)
                    times[(job, tool)].append(elapsed)
                    print(f"run {run + 1} {job:12s} {tool:9s} {elapsed:7.3f} s", file=sys.stderr)
                    if tool == "tunegrove":
                        # Its undo, timed the same way: every file back byte for byte.
                        writer = start_load(work) if args.load else None
                        started = time.perf_counter()
                        result = subprocess.run([args.cli, "undo"], env=env, stdout=subprocess.DEVNULL,
                                                stderr=subprocess.PIPE)
                        undo = time.perf_counter() - started
                        stop_load(writer, work)
                        if result.returncode != 0:
                            sys.exit(f"undo of {job} failed: {result.stderr.decode()[:500]}")
                        original = None if seed is None else open(seed, "rb").read()
                        for i, path in enumerate(files):
                            with open(path, "rb") as f:
                                if f.read() != (tagged(i) if seed is None else original):
                                    sys.exit(f"undo of {job}: {path} is not as it was")
                        undos.setdefault(job, []).append(undo)
                        print(f"run {run + 1} {job:12s} undo      {undo:7.3f} s", file=sys.stderr)
        print(f"{args.files} files, median of {args.runs} runs (every file checked after each run)"
              + (", another process writing 2 GB meanwhile" if args.load else ""))
        for job in jobs:
            t = statistics.median(times[(job, "tunegrove")])
            m = statistics.median(times[(job, "mutagen")])
            u = statistics.median(undos[job])
            extra = ""
            if (job, "metaflac") in times:
                mf = statistics.median(times[(job, "metaflac")])
                extra = f"   metaflac {mf:7.3f} s   tunegrove/metaflac {t / mf:5.2f}"
            print(f"{args.format} {job:12s} tunegrove {t:7.3f} s   mutagen {m:7.3f} s   tunegrove/mutagen {t / m:5.2f}   "
                  f"undo {u:7.3f} s   undo/write {u / t:5.2f}{extra}")
    finally:
        if not args.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
