#!/usr/bin/python3
"""Kills Cartfeeder with SIGKILL at random moments while it imports, restarts it, and checks
that the cart store is consistent and holds no temporary files afterwards.

Three watch folders: one deleting its files after the import, one keeping them with the
archive flag and taking snapshots, one re-importing over carts that already hold audio (with
normalisation). The program runs headless in a private home folder.

    scripts/kill-during-imports.py --program build/bin/cartfeeder            # 50 imports
    scripts/kill-during-imports.py --program build/bin/cartfeeder --imports 6 --kills 3 \
        --targeted 1 --seconds 3 8 --mid-writes 1                             # the CI test

Exit status 0 when every check passed; the last line says how many kills were tried and how
many of them hit a file being written (--mid-writes asks for that many, trying more kills).
"""

import argparse
import os
import random
import re
import shutil
import sqlite3
import struct
import subprocess
import sys
import time

from private_home import private_home, profile_folder, stop

RATE = 44100
CHANNELS = 2
PROFILE = "KillTest"
# Names of files being written: the store's own, unpacked transport audio, half-made copies.
TEMPORARY = re.compile(r"^(\..+\.(tmp|bak|new)|\.transport-.+|\.~.+\.[A-Za-z0-9]{6})$")


def make_wav(path, seconds, frequency):
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency={frequency}:duration={seconds}", "-ac", str(CHANNELS),
                    "-ar", str(RATE), path], check=True)


def wav_seconds(path):
    """Length of a PCM WAV file from its header; None when it is not one."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    pos, rate, block = 12, 0, 0
    while pos + 8 <= len(data):
        name, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if name == b"fmt ":
            _, channels, rate, _, block, _ = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
        elif name == b"data":
            if not rate or not block or pos + 8 + size > len(data):
                return None
            return size / block / rate
        pos += 8 + size + (size & 1)
    return None


class Run:
    def __init__(self, args):
        self.args = args
        self.root, self.env = private_home("cartfeeder-kill-")
        self.store = os.path.join(self.env["XDG_DATA_HOME"], "Orvane", "Cartvault v3")
        self.folders = {g: os.path.join(self.root, g) for g in ("delete", "archive", "reimport")}
        for folder in self.folders.values():
            os.makedirs(folder)
        self.expected = {}  # cart -> seconds
        self.kills = 0
        self.mid_write = 0  # kills that left a file being written behind

    def write_settings(self):
        profile = profile_folder(self.env, PROFILE)
        groups = [
            ("delete", 1000, 1099, "DeleteAfterImport=1\nUseArchiveBit=0\n"),
            ("archive", 1100, 1199, "DeleteAfterImport=0\nUseArchiveBit=1\n"
                                    "TakeSnapShotBeforeImport=1\n"),
            ("reimport", 1200, 1299, "DeleteAfterImport=1\nUseArchiveBit=0\n"
                                     "OverrideNormalise=80\n"),
        ]
        text = f"[General]\nNumberGroups={len(groups)}\nCheckInterval=1\n"
        for i, (name, first, last, extra) in enumerate(groups, 1):
            text += (f"[Group{i}]\nName={name}\nDirectory={self.folders[name]}\n"
                     f"StartHDRef={first}\nEndHDRef={last}\nEnabled=1\n{extra}")
        with open(os.path.join(profile, "Importer.ini"), "w") as f:
            f.write(text)

    def start(self):
        return subprocess.Popen([self.args.program, f"/Profile={PROFILE}", "/NOPREVCHECK",
                                 "/SILENT"], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def rows(self):
        path = os.path.join(self.store, "cartvault.db")
        if not os.path.exists(path):
            return {}
        db = sqlite3.connect(f"file:{path}?mode=ro", uri=True, timeout=10)
        try:
            return {n: (length, audio) for n, length, audio in
                    db.execute("SELECT number, length, audio_file FROM carts")}
        except sqlite3.DatabaseError:
            return {}
        finally:
            db.close()

    def pending(self, rows):
        """Carts not yet holding the expected audio, and files still waiting to go."""
        left = [c for c, s in self.expected.items()
                if c not in rows or abs(rows[c][0] - s) > 0.02]
        left += [f for g in ("delete", "reimport") for f in os.listdir(self.folders[g])
                 if f.endswith(".wav")]
        return left

    def run_until_done(self, limit):
        program = self.start()
        deadline = time.monotonic() + limit
        try:
            while time.monotonic() < deadline:
                time.sleep(0.05)
                if not self.pending(self.rows()):
                    return True
            return False
        finally:
            stop(program, 20)

    def prepare(self):
        rnd = random.Random(self.args.seed)
        n = self.args.imports
        counts = {"delete": n * 2 // 5, "archive": n * 3 // 10}
        counts["reimport"] = n - counts["delete"] - counts["archive"]
        first = {"delete": 1000, "archive": 1100, "reimport": 1200}
        low, high = self.args.seconds
        # The carts re-imported over must hold audio first; no kills while they are filled.
        for i in range(counts["reimport"]):
            make_wav(os.path.join(self.folders["reimport"], f"{1200 + i} Old {i}.wav"), 1.0,
                     300 + i)
            self.expected[1200 + i] = 1.0
        if not self.run_until_done(60):
            sys.exit("the carts to re-import over could not be filled")
        for group, count in counts.items():
            for i in range(count):
                cart = first[group] + i
                seconds = round(rnd.uniform(low, high), 2)
                make_wav(os.path.join(self.folders[group], f"{cart} Take {i}.wav"), seconds,
                         400 + 10 * i)
                self.expected[cart] = seconds
        return rnd

    def kill_at_random(self, rnd):
        for _ in range(self.args.kills):
            if not self.pending(self.rows()):
                break
            self.kill_once(lambda: rnd.random() < self.args.targeted,
                           lambda: rnd.uniform(0, 0.03), lambda: rnd.uniform(*self.args.kill_after))

    def kill_mid_write(self):
        """Kills at once when a file is being written, until enough kills have hit a write;
        a few tries at most, with fresh files to import when the work has run out."""
        extra = 0
        for _ in range(10):
            if self.mid_write >= self.args.mid_writes:
                return True
            if not self.pending(self.rows()):
                cart = 1099 - extra
                extra += 1
                make_wav(os.path.join(self.folders["delete"], f"{cart} Extra.wav"),
                         self.args.seconds[1], 700 + extra)
                self.expected[cart] = self.args.seconds[1]
            self.kill_once(lambda: True, lambda: 0, None)
        return self.mid_write >= self.args.mid_writes

    def kill_once(self, targeted, delay, kill_after):
        before = self.temporary_versions()
        program = self.start()
        if targeted():
            # Wait for a file being written, so that writes are hit for sure.
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and not self.temporary_versions() - before:
                time.sleep(0.002)
            time.sleep(delay())
        else:
            time.sleep(kill_after())
        if program.poll() is None:
            program.kill()
            self.kills += 1
        program.wait()
        # Only a file being written that this run began counts: one left by an earlier kill
        # may still wait for the clean-up.
        if self.temporary_versions() - before:
            self.mid_write += 1

    def temporary_versions(self):
        found = set()
        for path in self.temporaries():
            try:
                found.add((path, os.stat(path).st_ino))
            except FileNotFoundError:
                pass
        return found

    def temporaries(self):
        found = []
        for folder in [os.path.join(self.store, "Audio")] + list(self.folders.values()):
            for dirpath, _, files in os.walk(folder):
                found += [os.path.join(dirpath, f) for f in files if TEMPORARY.match(f)]
        return found

    def check(self):
        problems = []
        path = os.path.join(self.store, "cartvault.db")
        db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
        if db.execute("PRAGMA integrity_check").fetchone()[0] != "ok":
            problems.append("the database fails its integrity check")
        rows = {n: (length, audio) for n, length, audio in
                db.execute("SELECT number, length, audio_file FROM carts")}
        db.close()
        audio_folder = os.path.join(self.store, "Audio")
        named = set()
        for cart, (length, audio) in rows.items():
            if not audio:
                continue
            named.add(audio)
            file = os.path.join(audio_folder, audio)
            if not os.path.isfile(file):
                problems.append(f"cart {cart}: {audio} is missing")
                continue
            seconds = wav_seconds(file)
            if seconds is None or abs(seconds - length) > 0.02:
                problems.append(f"cart {cart}: row says {length} s, {audio} holds {seconds}")
        for cart, seconds in self.expected.items():
            if cart not in rows or abs(rows[cart][0] - seconds) > 0.02:
                problems.append(f"cart {cart}: expected {seconds} s, found {rows.get(cart)}")
        for name in os.listdir(audio_folder):
            if TEMPORARY.match(name):
                problems.append(f"temporary file left in the store: {name}")
            elif name.endswith(".wav") and name not in named:
                problems.append(f"audio without a cart: {name}")
        for folder in self.folders.values():
            for dirpath, _, files in os.walk(folder):
                for name in files:
                    if "Failed!" in dirpath:
                        problems.append(f"moved to Failed!: {name}")
                    elif TEMPORARY.match(name):
                        problems.append(f"temporary file left: {os.path.join(dirpath, name)}")
        return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--imports", type=int, default=50)
    parser.add_argument("--kills", type=int, default=50)
    parser.add_argument("--seconds", type=float, nargs=2, default=(20.0, 60.0),
                        help="shortest and longest audio to import")
    parser.add_argument("--kill-after", type=float, nargs=2, default=(0.2, 1.5),
                        help="earliest and latest kill, seconds after a start")
    parser.add_argument("--targeted", type=float, default=0.5,
                        help="share of the kills that wait for a file being written")
    parser.add_argument("--mid-writes", type=int, default=0,
                        help="kills that must hit a file being written; more are tried if not")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = random.randrange(1 << 30)
    if shutil.which("ffmpeg") is None:
        print("the ffmpeg command is not installed")
        return 1 if os.environ.get("CI") == "true" else 77

    run = Run(args)
    try:
        run.write_settings()
        rnd = run.prepare()
        run.kill_at_random(rnd)
        hit = run.kill_mid_write()
        # The restart after the last kill must finish the work and clean up.
        finished = run.run_until_done(120)
        problems = [] if finished else ["the imports did not finish after the kills"]
        if not hit:
            problems.append(f"only {run.mid_write} kills hit a file being written, "
                            f"{args.mid_writes} asked for")
        problems += run.check()
        for problem in problems:
            print("FAULT:", problem)
        print(f"seed {args.seed}: {args.imports} imports, {run.kills} kills tried, "
              f"{run.mid_write} of them in the middle of a write, "
              f"{'consistent' if not problems else f'{len(problems)} faults'}")
        return 1 if problems else 0
    finally:
        if args.keep:
            print("left in", run.root)
        else:
            shutil.rmtree(run.root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
