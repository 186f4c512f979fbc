#!/usr/bin/python3
"""End-to-end scenarios: the real tunegrove under an X server with a window manager, driven by real key presses
and mouse clicks (xdotool), its widgets found the way an assistive tool finds them (AT-SPI), the results checked
on disk (mutagen) and in the window titles.

Run inside an X session with a D-Bus session bus, for example:
    xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- /usr/bin/python3 tests/e2e/e2e.py build/src/tunegrove
Exits 77 (skipped) with a message when the tools or an X server are missing.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77


def skip(reason):
    print(f"e2e: SKIPPED: {reason}")
    sys.exit(SKIP)


for tool in ("xdotool", "openbox"):
    if not shutil.which(tool):
        skip(f"{tool} is not installed")
if not os.environ.get("DISPLAY"):
    skip("no X server (DISPLAY is not set); run under xvfb-run")
try:
    import pyatspi  # noqa: E402
    from mutagen.id3 import ID3, TIT2, TPE1  # noqa: E402
except ImportError as error:
    skip(f"a Python module is missing ({error}); install python3-pyatspi and python3-mutagen")

APP = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/src/tunegrove")
SHOTS = os.environ.get("E2E_SHOTS", "")   # a folder: a screenshot of each failure goes there


def screenshot(name):
    """Keeps the screen as SHOTS/name.png; without ImageMagick's import (not needed to run the tests) nothing."""
    if SHOTS and shutil.which("import"):
        os.makedirs(SHOTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, name + ".png")], check=False)


# --- files ------------------------------------------------------------------------------------------------------

def mpeg_audio(frames=20):
    """Silent MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz: 417 bytes each."""
    header = struct.pack(">I", 0xFFFB9064)
    return (header + bytes(413)) * frames


def make_mp3(path, title=None, artist=None, content=None):
    with open(path, "wb") as out:
        out.write(content if content is not None else mpeg_audio())
    if title is not None or artist is not None:
        tag = ID3()
        if title is not None:
            tag.add(TIT2(encoding=3, text=title))
        if artist is not None:
            tag.add(TPE1(encoding=3, text=artist))
        tag.save(path, v2_version=3)


def title_of(path):
    frame = ID3(path).get("TIT2")
    return str(frame.text[0]) if frame else None


# --- input ------------------------------------------------------------------------------------------------------

def xdo(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True)


def key(*keys):
    for k in keys:
        xdo("key", "--clearmodifiers", k)
        time.sleep(0.15)


def type_text(text):
    xdo("type", "--delay", "40", text)
    time.sleep(0.2)


def click_at(x, y, button=1, modifiers=None, double=False):
    xdo("mousemove", x, y)   # (not --sync: it waits for a motion that never comes when the pointer is there already)
    time.sleep(0.15)
    if modifiers:
        xdo("keydown", modifiers)
    xdo("click", *(["--repeat", "2", "--delay", "80"] if double else []), button)
    if modifiers:
        xdo("keyup", modifiers)
    time.sleep(0.3)


def wait_for(predicate, what, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            value = predicate()
        except Exception:   # the accessibility tree changes under our feet while windows come and go
            value = None
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def window_geometry(window):
    """x, y, width, height of an X window."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def window_titles():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], capture_output=True, text=True)
    titles = []
    for wid in found.stdout.split():
        name = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True).stdout.strip()
        if name:
            titles.append(name)
    return titles


# --- the program, seen through its accessibility tree ------------------------------------------------------------

def environment(home):
    """The environment of a user whose home is `home`: the window and the command line share its journal."""
    env = dict(os.environ)
    env.update({
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local/share"),
        "XDG_STATE_HOME": os.path.join(home, ".local/state"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        "QT_ACCESSIBILITY": "1",
    })
    env.pop("QT_QPA_PLATFORM", None)   # a real X window, not the offscreen platform tests use
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    return env


def cli(home, *args):
    """tunegrove-cli (built beside the program) as the same user; its standard output."""
    program = os.path.join(os.path.dirname(APP), "cli", "tunegrove-cli")
    done = subprocess.run([program, *args], env=environment(home), capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, (args, done.returncode, done.stderr)
    return done.stdout


class App:
    def __init__(self, home, args=(), command=None):
        self.home = home
        env = environment(home)
        self.log = open(os.path.join(home, "tunegrove.log"), "w")
        self.process = subprocess.Popen(command or [APP, *args], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.root = wait_for(self._find_app, "the program's accessibility tree", 20)
        self.frame = wait_for(lambda: self.find("frame", "Tunegrove"), "the main window")

    def windows(self):
        """The program's visible X windows."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                               capture_output=True, text=True)
        return set(found.stdout.split())

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            # Match by process: the registry may still list a Tunegrove of an earlier scenario for a moment.
            if app is not None and app.name == "Tunegrove" and app.get_process_id() == self.process.pid and app.childCount > 0:
                return app
        return None

    def close(self):
        # Called from a scenario's `finally`: when it failed, the screen is kept before the window goes.
        if SHOTS and sys.exc_info()[0] is not None:
            screenshot(traceback.extract_stack()[-2].name)
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.log.close()

    def find(self, role, name=None, within=None, showing=True):
        """The first accessible of a role (and name) below `within`, breadth first."""
        queue = [within or self.root]
        while queue:
            node = queue.pop(0)
            if node is None:
                continue
            if node.getRoleName() == role and (name is None or node.name == name):
                if not showing or node.getState().contains(pyatspi.STATE_SHOWING):
                    return node
            queue.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        return None

    def all_named(self, part):
        """Every showing accessible whose name holds `part`."""
        queue = [self.root]
        while queue:
            node = queue.pop(0)
            if node is None:
                continue
            if part in (node.name or "") and node.getState().contains(pyatspi.STATE_SHOWING):
                yield node
            queue.extend(node.getChildAtIndex(i) for i in range(node.childCount))

    def wait(self, role, name=None, within=None, timeout=10.0):
        return wait_for(lambda: self.find(role, name, within), f"{role} '{name}'", timeout)

    @staticmethod
    def centre(node):
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.x + e.width // 2, e.y + e.height // 2

    def click(self, node, **kwargs):
        click_at(*self.centre(node), **kwargs)

    def table(self):
        return self.find("table", within=self.frame)

    def cell(self, row, column):
        return self.table().queryTable().getAccessibleAt(row, column)

    def rows(self):
        return self.table().queryTable().nRows

    def status(self, prefix):
        label = wait_for(lambda: next((n for n in self._labels() if n.name.startswith(prefix)), None), prefix)
        return label.name

    def _labels(self):
        bar = self.find("status bar", within=self.frame)
        return [bar.getChildAtIndex(i) for i in range(bar.childCount)] + [
            bar.getChildAtIndex(i).getChildAtIndex(j)
            for i in range(bar.childCount) for j in range(bar.getChildAtIndex(i).childCount)]

    def menu(self, menu, entry):
        self.click(self.find("menu item", menu, within=self.frame))
        item = self.wait("menu item", entry)
        self.click(item)


# --- scenarios ---------------------------------------------------------------------------------------------------

def start_with(home, songs):
    """Tunegrove started on ~/Music holding `songs` ({file name: (title, artist)}), once it lists them all."""
    music = os.path.join(home, "Music")
    for name, (title, artist) in songs.items():
        make_mp3(os.path.join(music, name), title=title, artist=artist)
    app = App(home)
    try:
        wait_for(lambda: app.rows() == len(songs), f"{len(songs)} rows")
    except Exception:
        app.close()
        raise
    return music, app


def scenario_copy_skip(home):
    """Copy into a folder where the file exists: the question is on top and answered Skip by a click."""
    music = os.path.join(home, "Music")
    target = os.path.join(home, "target")
    os.makedirs(target)
    make_mp3(os.path.join(music, "song.mp3"), title="New")
    make_mp3(os.path.join(target, "song.mp3"), title="Old")
    before = open(os.path.join(target, "song.mp3"), "rb").read()
    app = App(home)
    try:
        wait_for(lambda: app.rows() == 1, "one row")
        app.click(app.cell(0, 0))
        app.menu("Edit", "Copy File(s) to")
        dialog = app.wait("dialog", "Copy/Move")
        app.click(app.wait("table cell", "Home", within=dialog))   # a folder tree's items are its cells
        key("Right")   # opens the branch
        app.click(app.wait("table cell", "target", within=dialog))
        app.click(app.wait("push button", "OK", within=dialog))
        question = app.wait("dialog", "File already exist")
        time.sleep(1.0)   # longer than the progress box waits before it shows
        assert "File already exist" in window_titles(), window_titles()
        skip_button = app.wait("push button", "Skip", within=question)
        app.click(skip_button)
        wait_for(lambda: app.find("dialog", "File already exist") is None, "the question to close")
        time.sleep(0.5)
        assert open(os.path.join(target, "song.mp3"), "rb").read() == before, "the existing file was replaced"
        assert not any(t.strip().endswith("of 1") for t in window_titles())
    finally:
        app.close()


def scenario_edit_hide_enter(home):
    """A title edited in place, then the row hidden, then Enter: only the edited file gets the text."""
    music, app = start_with(home, {"a.mp3": ("Alpha", None), "b.mp3": ("Bravo", None)})
    try:
        first = app.cell(0, 0).name
        app.click(app.cell(0, 0))
        key("F2", "Tab")   # the Title editor of the selected row
        type_text("Edited")
        app.click(app.find("push button", "Hide", within=app.frame))
        wait_for(lambda: app.rows() == 1, "the row to leave the list")
        key("Return")
        time.sleep(0.8)
        edited, other = ("a", "b") if first == "a" else ("b", "a")
        assert title_of(os.path.join(music, f"{edited}.mp3")) == "Edited", title_of(os.path.join(music, f"{edited}.mp3"))
        assert title_of(os.path.join(music, f"{other}.mp3")) in ("Alpha", "Bravo"), "the other file was written"
    finally:
        app.close()


def scenario_escape_in_editor(home):
    """Esc drops an in-place edit; a later click writes nothing."""
    music, app = start_with(home, {"a.mp3": ("Alpha", None), "b.mp3": ("Bravo", None)})
    try:
        app.click(app.cell(0, 0))
        key("F2")
        type_text("zzz")
        key("Escape")
        app.click(app.cell(1, 0))
        time.sleep(0.5)
        assert sorted(os.listdir(music)) == ["a.mp3", "b.mp3"], os.listdir(music)
        assert app.status("Mp3`s selected") == "Mp3`s selected: 1", "Esc reached the window instead of the editor"
    finally:
        app.close()


def scenario_rename_upper_case_mp3(home):
    """Rename from tag of "x.MP3": the row names the new file, and Edit Tag opens on it."""
    music, app = start_with(home, {"x.MP3": ("Tune", "Ann")})
    try:
        app.click(app.cell(0, 0))
        key("alt+r")
        dialog = app.wait("dialog", "Rename")
        time.sleep(0.3)
        key("Return")   # the first pattern: "$A - $T"
        wait_for(lambda: os.path.exists(os.path.join(music, "Ann - Tune.mp3")), "the renamed file")
        wait_for(lambda: app.cell(0, 1).name == "mp3", "the row's extension to follow the file")
        assert app.cell(0, 0).name == "Ann - Tune"
        del dialog
        key("ctrl+e")
        app.wait("dialog", "Tag  Information")
        assert "Tag  Information" in window_titles(), window_titles()
        key("Escape")
        wait_for(lambda: app.find("dialog", "Tag  Information") is None, "Esc to close the tag dialog")
    finally:
        app.close()


def scenario_shift_f10(home):
    """Shift+F10 opens the list's context menu from the keyboard."""
    _, app = start_with(home, {"a.mp3": ("Alpha", None)})
    try:
        app.click(app.cell(0, 0))
        before = app.windows()
        key("shift+F10")
        # The menu is a window of its own (not in the accessibility tree): it opens at the list's top left corner.
        menu = wait_for(lambda: next(iter(app.windows() - before), None), "a menu window")
        x, y, _, _ = window_geometry(menu)
        table = app.table().queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        assert table.x <= x <= table.x + 40 and table.y <= y <= table.y + 60, (x, y, table.x, table.y)
        key("Escape")
        wait_for(lambda: not (app.windows() - before), "the menu to close")
    finally:
        app.close()


def scenario_undo_redo_keys(home):
    """An in-place edit taken back with Ctrl+Z and done again with Ctrl+Shift+Z; an undo over a file changed
    since names it in a message, answered by a click."""
    music, app = start_with(home, {"a.mp3": ("Alpha", "Ann")})
    path = os.path.join(music, "a.mp3")
    before = open(path, "rb").read()
    try:
        app.click(app.cell(0, 0))
        key("F2", "Tab")
        type_text("Edited")
        key("Return")
        wait_for(lambda: title_of(path) == "Edited", "the edit on disk")
        key("ctrl+z")
        wait_for(lambda: open(path, "rb").read() == before, "the file as it was, byte for byte")
        wait_for(lambda: app.cell(0, 3).name == "Alpha", "the row to show the old title")
        key("ctrl+shift+z")
        wait_for(lambda: title_of(path) == "Edited", "the edit done again")
        with open(path, "ab") as out:   # another program changes the file
            out.write(b"\0")
        key("ctrl+z")
        message = wait_for(lambda: next(app.all_named("left as they are"), None), "the message naming the file")
        box = message.parent
        while box is not None and box.getRoleName() not in ("dialog", "alert"):
            box = box.parent
        app.click(app.wait("push button", "OK", within=box))
        wait_for(lambda: not list(app.all_named("left as they are")), "the message to close")
        assert title_of(path) == "Edited", "a file changed since was undone"
    finally:
        app.close()


def scenario_flac_in_the_tag_dialog(home):
    """With other audio on, a FLAC file lists with its tags, and the real tag dialog edits it: the new title is in
    the file, its picture and other fields stay, and Ctrl+Z takes it back byte for byte."""
    if not shutil.which("flac"):
        raise AssertionError("flac (the encoder) is not installed")
    music = os.path.join(home, "Music")
    wav = os.path.join(home, "tone.wav")
    with open(wav, "wb") as out:
        samples = b"".join(struct.pack("<h", (i * 37) % 2000 - 1000) for i in range(8000))
        out.write(b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt " +
                  struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16) + b"data" + struct.pack("<I", len(samples)) + samples)
    path = os.path.join(music, "song.flac")
    subprocess.run(["flac", "-s", "-o", path, wav], check=True)
    from mutagen.flac import FLAC, Picture
    tagged = FLAC(path)
    tagged["title"] = "Old Title"
    tagged["custom"] = "kept"
    picture = Picture()
    picture.type, picture.mime, picture.data = 3, "image/png", b"PNG" * 100
    tagged.add_picture(picture)
    tagged.save()
    before = open(path, "rb").read()
    os.makedirs(os.path.join(home, ".config", "Kestrine"))
    with open(os.path.join(home, ".config", "Kestrine", "Tunegrove.conf"), "w") as conf:
        conf.write("[Settings]\nOtherAudio=1\n")
    app = App(home)
    try:
        wait_for(lambda: app.rows() == 1 and app.cell(0, 3).name == "Old Title", "the FLAC row with its title")
        app.click(app.cell(0, 0))
        key("ctrl+e")
        dialog = app.wait("dialog", "Tag  Information")
        title = app.wait("text", "Title", within=dialog)
        app.click(title)
        key("ctrl+a")
        type_text("New Title")
        key("Return")
        wait_for(lambda: app.find("dialog", "Tag  Information") is None, "the dialog to close")
        wait_for(lambda: str(FLAC(path).get("title", [""])[0]) == "New Title", "the title in the file")
        after = FLAC(path)
        assert after["custom"] == ["kept"] and len(after.pictures) == 1, "other fields or the picture were lost"
        key("ctrl+z")
        wait_for(lambda: open(path, "rb").read() == before, "the file as it was, byte for byte")
    finally:
        app.close()


ONLY = os.environ.get("E2E_ONLY", "")   # run just the scenarios whose names contain this

def scenario_damaged_settings(home):
    """A settings file that cannot be read whole, holding a window far larger than the screen: the window comes up
    on the screen, the user is told the file was kept aside, and an OK click closes the message."""
    conf_dir = os.path.join(home, ".config", "Kestrine")
    os.makedirs(conf_dir)
    damaged = b"[Settings]\nx=-6145\ny=-6145\ncx=32767\ncy=32767\n[Settings\nGrid=0\n"
    with open(os.path.join(conf_dir, "Tunegrove.conf"), "wb") as out:
        out.write(damaged)
    app = App(home)
    try:
        message = wait_for(lambda: next(app.all_named("could not be read whole"), None),
                           "the message about the settings file")
        box = message.parent
        while box is not None and box.getRoleName() not in ("dialog", "alert"):
            box = box.parent
        assert box is not None, "the message is in no dialog"
        app.click(app.wait("push button", "OK", within=box))
        wait_for(lambda: not list(app.all_named("could not be read whole")), "the message to close")
        with open(os.path.join(conf_dir, "Tunegrove.conf.bad"), "rb") as kept:
            assert kept.read() == damaged, "the damaged file was not kept as it was"
        main = app.find("frame", "Tunegrove")
        extents = main.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        assert 0 <= extents.x and 0 <= extents.y and extents.x + extents.width <= 1280 and \
            extents.y + extents.height <= 800, (extents.x, extents.y, extents.width, extents.height)
    finally:
        app.close()


def scenario_filter_box(home):
    """Ctrl+F and typing narrow the list; Ctrl+A and Delete in the box edit its text and delete no file; Esc
    shows every row again and the list has the focus (Ctrl+A then selects its rows)."""
    music, app = start_with(home, {"1.mp3": ("Zoé", "Ann"), "2.mp3": ("Rock", "Bob"), "3.mp3": ("Other", "Zoe")})
    try:
        app.click(app.cell(0, 0))
        key("ctrl+f")
        type_text("zoe")
        wait_for(lambda: app.rows() == 2, "two rows for zoe")
        assert app.status("Mp3: ") == "Mp3: 2 of 3", app.status("Mp3: ")
        type_text(" artist:z")
        wait_for(lambda: app.rows() == 1, "the row whose artist is zoe")
        screenshot("filter_box")
        key("ctrl+a", "Delete")
        wait_for(lambda: app.rows() == 3, "every row once the box is empty")
        assert sorted(os.listdir(music)) == ["1.mp3", "2.mp3", "3.mp3"], os.listdir(music)
        assert not list(app.all_named("Remove")), "a question about removing files opened"
        type_text("rock")
        wait_for(lambda: app.rows() == 1, "the rock row")
        key("Escape")
        wait_for(lambda: app.rows() == 3, "every row after Esc")
        key("ctrl+a")
        wait_for(lambda: app.status("Mp3`s selected") == "Mp3`s selected: 3", "the rows selected from the list")
    finally:
        app.close()


def png_bytes(width=64, height=32):
    """A small, real PNG image."""
    import zlib
    rows = b"".join(b"\x00" + bytes((x * 4) % 256 for x in range(width * 3)) for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def scenario_tag_from_name_and_cover(home):
    """Alt+N on untagged files named "NN - Artist - Title": the dialog comes up on top, the pattern typed and Enter
    write the tags (mutagen reads them). Then the tag dialog's Set Cover... opens a file dialog over it; the image
    typed there and Enter, then Enter again, put a front cover into the file."""
    music = os.path.join(home, "Music")
    for name in ("01 - Ann Lee - First Song.mp3", "02 - Bob - Second - Part Two.mp3"):
        make_mp3(os.path.join(music, name))
    image = os.path.join(home, "cover.png")
    with open(image, "wb") as out:
        out.write(png_bytes())
    app = App(home)
    try:
        wait_for(lambda: app.rows() == 2, "two rows")
        app.click(app.cell(0, 0))
        key("ctrl+a", "alt+n")
        dialog = app.wait("dialog", "Tag from File Name")
        assert "Tag from File Name" in window_titles(), window_titles()
        key("ctrl+a")
        type_text("$K - $A - $T")
        time.sleep(0.5)
        screenshot("tag_from_name")
        key("Return")
        wait_for(lambda: app.find("dialog", "Tag from File Name") is None, "the dialog to close")
        second = os.path.join(music, "02 - Bob - Second - Part Two.mp3")
        wait_for(lambda: os.path.getsize(second) > 20 * 417 and title_of(second) == "Second - Part Two",
                 "the title from the name")
        tag = ID3(second)
        assert str(tag["TPE1"].text[0]) == "Bob" and str(tag["TRCK"].text[0]) == "2", tag.pprint()
        del dialog

        app.click(app.cell(0, 0))
        first = os.path.join(music, app.cell(0, 0).name + ".mp3")   # the file of the first row, whichever it is
        key("ctrl+e")
        dialog = app.wait("dialog", "Tag  Information")
        app.click(app.wait("push button", "Set Cover...", within=dialog))
        chooser = app.wait("dialog", "Set Cover")
        assert "Set Cover" in window_titles(), window_titles()
        time.sleep(0.3)
        type_text(image)
        key("Return")
        wait_for(lambda: app.find("dialog", "Set Cover") is None, "the file dialog to close")
        time.sleep(0.3)
        screenshot("tag_dialog_cover")
        key("Return")
        wait_for(lambda: app.find("dialog", "Tag  Information") is None, "the tag dialog to close")
        covers = wait_for(lambda: [f for f in ID3(first).getall("APIC") if f.type == 3] or None, "a front cover")
        assert covers[0].data == png_bytes() and covers[0].mime == "image/png", covers[0].mime
        assert str(ID3(first)["TPE1"].text[0]) in ("Ann Lee", "Bob")
        del chooser
    finally:
        app.close()


def scenario_open_what_it_is_given(home):
    """The desktop entry's command with a folder lists that folder and its subfolders; `tunegrove FILE FILE
    MISSING` says the missing path is not there (a message on top, closed by a click), then lists the files'
    folder alone with both selected."""
    music = os.path.join(home, "Music")
    jazz = os.path.join(music, "Jazz")
    os.makedirs(os.path.join(jazz, "Live"))
    for name in ("a.mp3", "b.mp3", "c.mp3"):
        make_mp3(os.path.join(jazz, name), title=name[0].upper())
    make_mp3(os.path.join(jazz, "Live", "d.mp3"), title="D")
    make_mp3(os.path.join(music, "elsewhere.mp3"), title="E")
    entry = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                         "org.kestrine.Tunegrove.desktop")
    exec_line = next(line for line in open(entry) if line.startswith("Exec="))[5:].split()
    assert exec_line == ["tunegrove", "%F"], exec_line
    app = App(home, command=[APP] + [jazz if word == "%F" else word for word in exec_line[1:]])
    try:
        wait_for(lambda: app.rows() == 4, "the folder's three rows and its subfolder's one")
        assert jazz in app.status("Current"), app.status("Current")
    finally:
        app.close()

    missing = os.path.join(home, "no such song.mp3")
    app = App(home, args=[os.path.join(jazz, "c.mp3"), os.path.join(jazz, "a.mp3"), missing])
    try:
        message = wait_for(lambda: next(app.all_named("Nothing is at"), None), "the message about the missing path")
        assert missing in message.name, message.name
        box = message.parent
        while box is not None and box.getRoleName() not in ("dialog", "alert"):
            box = box.parent
        app.click(app.wait("push button", "OK", within=box))
        wait_for(lambda: app.rows() == 3, "the files' folder listed")
        wait_for(lambda: app.status("Mp3`s selected") == "Mp3`s selected: 2", "the two files selected")
        table = app.table().queryTable()
        names = sorted(app.cell(row, 0).name for row in range(app.rows()) if table.isRowSelected(row))
        assert names == ["a", "c"], names
        screenshot("open_files")
    finally:
        app.close()


def scenario_many_rows(home):
    """A folder of more files than the window takes in one piece: every row arrives and is counted, and the
    filter box narrows them and gives them back, with real keys."""
    music = os.path.join(home, "Many")
    os.makedirs(music)
    audio = mpeg_audio()
    for i in range(5000):
        make_mp3(os.path.join(music, "%04d.mp3" % i), artist="Zed" if i % 100 == 7 else None,
                 content=audio)
    app = App(home, args=[music])
    try:
        wait_for(lambda: app.rows() == 5000, "5,000 rows")
        wait_for(lambda: app.status("Mp3: ") == "Mp3: 5000", "the count of 5,000")
        app.click(app.cell(4999, 0))   # the newest rows stay in view while a folder fills
        key("ctrl+f")
        type_text("artist:zed")
        wait_for(lambda: app.rows() == 50, "the 50 rows whose artist is Zed")
        assert app.cell(0, 0).name == "0007", app.cell(0, 0).name
        key("Escape")
        wait_for(lambda: app.rows() == 5000, "every row after Esc")
    finally:
        app.close()


def journal_records(data):
    """The records of an undo journal entry: (type, frame bytes)."""
    records, at = [], 0
    while at + 21 <= len(data):
        length = struct.unpack(">I", data[at:at + 4])[0]
        records.append((data[at + 4:at + 5], data[at:at + 21 + length]))
        at += 21 + length
    return records


def scenario_interrupted_write_named(home):
    """A tag write killed half-way, then another program edits that file: at the next start the window names the
    file in a warning, on top, and leaves it as the other program left it; OK closes the warning."""
    music = os.path.join(home, "Music")
    song = os.path.join(music, "song.mp3")
    make_mp3(song, title="Before", artist="Ann")
    env = dict(os.environ, HOME=home, XDG_STATE_HOME=os.path.join(home, ".local/state"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"))
    cli = os.path.join(os.path.dirname(APP), "cli", "tunegrove-cli")
    subprocess.run([cli, "set", "--title", "Written", song], env=env, check=True)
    undo = os.path.join(home, ".local/state/Kestrine/Tunegrove/undo")
    entry = os.path.join(undo, sorted(n for n in os.listdir(undo) if n.endswith(".tgj"))[-1])
    data = open(entry, "rb").read()
    # As a kill would leave it: the write announced, its outcome and the entry's end never recorded.
    with open(entry, "wb") as out:
        out.write(b"".join(frame for kind, frame in journal_records(data) if kind not in (b"D", b"E")))
    with open(song, "r+b") as edit:   # another program's edit in place, same size
        edit.seek(30)
        byte = edit.read(1)
        edit.seek(30)
        edit.write(bytes([byte[0] ^ 0x01]))
    edited = open(song, "rb").read()
    app = App(home)
    try:
        message = wait_for(lambda: next(app.all_named("interrupted tag write was not finished"), None),
                           "the warning about the interrupted write")
        assert next(app.all_named("changed since the interrupted write"), None), "the warning names no file"
        box = message.parent
        while box is not None and box.getRoleName() not in ("dialog", "alert"):
            box = box.parent
        assert box is not None, "the warning is in no dialog"
        app.click(app.wait("push button", "OK", within=box))
        wait_for(lambda: not list(app.all_named("interrupted tag write")), "the warning to close")
        wait_for(lambda: app.rows() == 1, "the song's row")
        assert open(song, "rb").read() == edited, "the other program's edit was written over"
    finally:
        app.close()


def scenario_rows_follow_the_command_line(home):
    """Commands of tunegrove-cli while the window lists the files: the rows show what they did, an undo too."""
    music, app = start_with(home, {"a.mp3": ("Alpha", "Ann"), "b.mp3": ("Bravo", "Bob")})
    try:
        a, b = os.path.join(music, "a.mp3"), os.path.join(music, "b.mp3")
        cli(home, "set", "--title", "From the CLI", a, b)
        wait_for(lambda: app.cell(0, 3).name == "From the CLI" and app.cell(1, 3).name == "From the CLI",
                 "the rows to show the new titles")
        cli(home, "rename", "--pattern", "$A", a)
        wait_for(lambda: sorted(app.cell(r, 0).name for r in range(app.rows())) == ["Ann", "b"], "the renamed row")
        cli(home, "undo")   # the rename
        wait_for(lambda: sorted(app.cell(r, 0).name for r in range(app.rows())) == ["a", "b"], "the old name back")
        cli(home, "undo")   # the titles
        wait_for(lambda: app.cell(0, 3).name == "Alpha" and app.cell(1, 3).name == "Bravo", "the old titles back")
        # The row of the renamed-back file is that file: an edit in place reaches it.
        app.click(app.cell(0, 0))
        key("F2", "Tab")
        type_text("Edited")
        key("Return")
        wait_for(lambda: title_of(a) == "Edited", "the edit on disk")
        assert not list(app.all_named("No such file")), "an edit went to a name the file no longer has"
    finally:
        app.close()


SCENARIOS = [scenario_copy_skip, scenario_edit_hide_enter, scenario_escape_in_editor, scenario_rename_upper_case_mp3,
             scenario_shift_f10, scenario_damaged_settings, scenario_undo_redo_keys, scenario_flac_in_the_tag_dialog,
             scenario_filter_box, scenario_tag_from_name_and_cover, scenario_open_what_it_is_given,
             scenario_interrupted_write_named, scenario_rows_follow_the_command_line, scenario_many_rows]


def main():
    if not os.access(APP, os.X_OK):
        print(f"e2e: {APP} is not a program")
        return 1
    wm = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    passed = failed = 0
    try:
        for scenario in [x for x in SCENARIOS if os.environ.get("E2E_ONLY", x.__name__) == x.__name__]:
            if ONLY and ONLY not in scenario.__name__:
                continue
            home = tempfile.mkdtemp(prefix="tg-e2e-")
            os.makedirs(os.path.join(home, "Music"))
            started = time.time()
            try:
                scenario(home)
                passed += 1
                print(f"PASS   : {scenario.__name__} ({time.time() - started:.1f} s)")
            except Exception:
                failed += 1
                print(f"FAIL!  : {scenario.__name__}")
                traceback.print_exc()
                log = os.path.join(home, "tunegrove.log")
                if os.path.exists(log):
                    print(open(log).read()[-2000:])
            finally:
                shutil.rmtree(home, ignore_errors=True)
    finally:
        wm.terminate()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
