#!/usr/bin/env python3
"""`tunegrove-cli show` against mutagen, an independent reader: title, artist and album of every file in the given
folders must agree (several values joined with "; "). A file neither reads a tag from is passed over; so is one
listed in KNOWN, where Tunegrove is right and mutagen is not.

Usage: /usr/bin/python3 tests/tags/show_agrees.py CLI DIR...
"""
import glob
import os
import subprocess
import sys
import tempfile

from mutagen.id3 import ID3
import mutagen

# Tunegrove shows nothing and refuses writes: the comments run past their block, which mutagen reads on into
# the padding block and then fails on the file.
KNOWN = {"flac-comments-past-block.flac"}


def mutagen_fields(path):
    try:
        if path.endswith((".mp3", ".tag")) or open(path, "rb").read(3) == b"ID3":
            tags = ID3(path)
            return {key: "; ".join(str(x) for x in tags[frame].text) if frame in tags else ""
                    for key, frame in (("title", "TIT2"), ("artist", "TPE1"), ("album", "TALB"))}
        audio = mutagen.File(path, easy=True)
        if audio is None or audio.tags is None:
            return None
        return {key: "; ".join(audio.tags.get(key, [])) for key in ("title", "artist", "album")}
    except Exception:
        return None   # mutagen reads no tag


def main():
    cli, folders = sys.argv[1], [d for d in sys.argv[2:] if os.path.isdir(d)]
    home = tempfile.mkdtemp(prefix="show-agrees-")
    env = dict(os.environ, HOME=home, XDG_STATE_HOME=home + "/state", XDG_CACHE_HOME=home + "/cache",
               XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data")
    files = [f for d in folders for f in sorted(glob.glob(d + "/**/*", recursive=True))
             if os.path.isfile(f) and not f.endswith(".md")]
    passed = failed = 0
    for path in files:
        if os.path.basename(path) in KNOWN:
            continue
        run = subprocess.run([cli, "show", path], capture_output=True, text=True, env=env)
        ours = None
        if run.returncode == 0:
            cells = run.stdout.rstrip("\n").split("\t")
            ours = {"title": cells[1], "artist": cells[2], "album": cells[4]}
        theirs = mutagen_fields(path)
        if (ours is None or not any(ours.values())) and (theirs is None or not any(theirs.values())):
            passed += 1
            continue
        if ours == theirs:
            passed += 1
        else:
            failed += 1
            print("FAIL %s\n  tunegrove-cli %s\n  mutagen       %s" % (path, ours, theirs))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
