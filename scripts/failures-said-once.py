#!/usr/bin/python3
"""Runs Cartfeeder against failures that last and counts how often each one is told.

One watch folder holds files the store cannot take (its disk is full: a limit on the size of
every file the program writes stands in), a damaged transport file whose "Failed!" is a plain
file, files that hold no audio (text, noise, empty, header-only, an unknown codec), and one short
file that imports. The program runs headless in a private home folder, mailing to
tests/support/smtp_server.py on port 25 (the program's only one) of a loopback address chosen at
random, another one while the chosen one is taken (binding port 25 needs root). At the end the
application log and the mail server are counted per file and kind of line.

    scripts/failures-said-once.py --program build/bin/cartfeeder                # 10 minutes
    scripts/failures-said-once.py --program build/bin/cartfeeder --seconds 12 --interval 1
    scripts/failures-said-once.py --program build/bin/cartfeeder --seconds 16 --restarts 1

With --restarts the time is shared by that many more runs of the program one after the other:
a file that holds no audio is still told once in all, a failure of the store at most once per
run.

Exit status 0 when every problem was logged and mailed as often as it should be, 77 when the run
cannot be made (1 under CI, CI=true, which sets up what the run needs).
"""

import argparse
import collections
import glob
import json
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import time

from private_home import private_home, profile_folder, stop

PROFILE = "SaidOnce"
LIMIT = 256 * 1024  # bytes: any file the program writes beyond this fails as on a full disk
HERE = os.path.dirname(os.path.abspath(__file__))


def wav_header(data_bytes, tag=1, rate=44100, channels=2, bits=16):
    block = channels * bits // 8
    return (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE" + b"fmt " +
            struct.pack("<IHHIIHH", 16, tag, channels, rate, rate * block, block, bits) +
            b"data" + struct.pack("<I", data_bytes))


def undecodable(index, rnd):
    """Name suffix and content of the index-th file that holds no audio."""
    noise = bytes(rnd.randrange(256) for _ in range(6000))
    kinds = [
        ("Text.mp3", b"This is a note, not a song.\n" * 40),
        ("Noise.wav", noise),
        ("Noise.ogg", noise),
        ("Empty.wav", b""),
        ("Header only.wav", wav_header(0)),
        ("Codec.wav", wav_header(8000, tag=0x3F3F, rate=8000, channels=1, bits=8) +
         b"\x11" * 8000),
    ]
    return kinds[index % len(kinds)]


class Run:
    def __init__(self, args):
        self.args = args
        self.root, self.env = private_home("cartfeeder-said-once-")
        self.watch = os.path.join(self.root, "watch")
        self.mail = os.path.join(self.root, "mail")
        os.makedirs(self.watch)
        os.makedirs(self.mail)
        self.problems = {}  # file name -> what is wrong with it
        self.host = None
        self.server = None

    def serve(self):
        """Starts the mail server on port 25 of a loopback address nobody holds; False when
        it cannot listen for another reason."""
        for _ in range(50):
            host = "127.{}.{}.{}".format(*(random.randint(1, 254) for _ in range(3)))
            server = subprocess.Popen(
                ["/usr/bin/python3", os.path.join(HERE, "..", "tests", "support", "smtp_server.py"),
                 "--out", self.mail, "--host", host, "--port", "25"],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                text=True)
            line = server.stdout.readline()
            if line.startswith("PORT"):
                self.host, self.server = host, server
                return True
            server.kill()
            server.wait()
            if line.split() != ["ERROR", "EADDRINUSE"]:
                print(f"cannot listen on {host}:25: {line.strip() or 'no answer'}")
                return False
        print("every address tried was taken")
        return False

    def prepare(self):
        profile = profile_folder(self.env, PROFILE)
        with open(os.path.join(profile, "Importer.ini"), "w") as f:
            f.write(f"[General]\nNumberGroups=1\nCheckInterval={self.args.interval}\n"
                    f"[SMTPServer]\nAddress={self.host}\n"
                    f"[Group1]\nName=Drop\nDirectory={self.watch}\nStartHDRef=1000\n"
                    "EndHDRef=1999\nEnabled=1\nNotifyEmailSender=feeder@radio.test\n"
                    "NotifyFailEmailRecipients=tech@radio.test\n"
                    "NotifySuccessEmailRecipients=desk@radio.test\n")
        # Too big for the full store disk: 5 s of CD audio each.
        for i in range(3):
            name = f"{1001 + i} Take.wav"
            self.write(name, wav_header(5 * 176400) + bytes(5 * 176400))
            self.problems[name] = "store disk full"
        self.write("1100 Damaged.zip", b"PK\x03\x04 not a whole archive " * 40)
        self.problems["1100 Damaged.zip"] = "damaged, \"Failed!\" unusable"
        with open(os.path.join(self.watch, "Failed!"), "w") as f:
            f.write("a plain file where the folder should be\n")
        rnd = random.Random(23)
        for i in range(self.args.undecodable):
            suffix, content = undecodable(i, rnd)
            name = f"{1200 + i} {suffix}"
            self.write(name, content)
            self.problems[name] = "no audio"
        # Small enough for the full disk: it imports, once.
        self.write("1300 Short.wav", wav_header(17640) + bytes(17640))

    def write(self, name, content):
        with open(os.path.join(self.watch, name), "wb") as f:
            f.write(content)
        # Rested long before the first check.
        past = time.time() - 60
        os.utime(os.path.join(self.watch, name), (past, past))

    def run(self):
        def full_disk():
            resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, resource.RLIM_INFINITY))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        try:
            for _ in range(self.args.restarts + 1):
                program = subprocess.Popen([self.args.program, f"/Profile={PROFILE}",
                                            "/NOPREVCHECK", "/SILENT"], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                           preexec_fn=full_disk)
                try:
                    time.sleep(self.args.seconds / (self.args.restarts + 1))
                finally:
                    stop(program, 30)
        finally:
            # Mails still on their way are in by now.
            time.sleep(1)
            self.server.stdin.close()
            self.server.wait(10)

    def log_lines(self):
        lines = []
        for path in glob.glob(os.path.join(self.root, "**", "Logs", "Cartfeeder", "*"),
                              recursive=True):
            with open(path, encoding="utf-8", errors="replace") as f:
                lines += [l.rstrip("\n") for l in f if "GRP:" in l]
        return lines

    def mails(self):
        found = []
        for path in glob.glob(os.path.join(self.mail, "*.json")):
            with open(path, encoding="utf-8") as f:
                found.append(json.load(f)["subject"])
        return found


def kind_of(text):
    """The log line's kind: its words without the names and reasons in it."""
    text = re.sub(r"'[^']*'", "'…'", text)
    text = re.sub(r" Error: .*| Failed: .*|: [^:]*; it stays.*", " …", text)
    return re.sub(r"Cart \d+.*", "Cart …", text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--interval", type=int, default=10)
    parser.add_argument("--undecodable", type=int, default=20)
    parser.add_argument("--restarts", type=int, default=0)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()

    run = Run(args)
    try:
        if not run.serve():
            return 1 if os.environ.get("CI") == "true" else 77
        run.prepare()
        run.run()
        lines = run.log_lines()
        mails = run.mails()
        per_file = collections.defaultdict(collections.Counter)
        for line in lines:
            text = line.split("GRP:1:", 1)[1]
            named = [n for n in list(run.problems) + ["1300 Short.wav"] if n in text]
            per_file[named[0] if named else "-"][kind_of(text)] += 1
        mailed = collections.Counter(m.split(":", 1)[1].split(" -> ")[0] for m in mails)
        faults = []
        print(f"{args.seconds:.0f} s at a {args.interval} s interval, {args.restarts} restarts: "
              f"{len(lines)} log lines, {len(mails)} mails")
        for name in sorted(run.problems):
            kinds = per_file.get(name, {})
            shown = ", ".join(f"{k} x{n}" for k, n in sorted(kinds.items()))
            print(f"  {name} ({run.problems[name]}): mails {mailed[name]}; log: {shown}")
            # The store's failures may be news again to a new run; a file's own fault is not.
            most = 1 if run.problems[name] == "no audio" else args.restarts + 1
            counts = [mailed[name]] + list(kinds.values())
            if not kinds or any(n < 1 or n > most for n in counts):
                faults.append(name)
        short = per_file.get("1300 Short.wav", {})
        print(f"  1300 Short.wav (imports): mails {mailed['1300 Short.wav']}; log: "
              + ", ".join(f"{k} x{n}" for k, n in sorted(short.items())))
        if mailed["1300 Short.wav"] != 1:
            faults.append("1300 Short.wav")
        print("each problem told once per file and reason (and run)" if not faults
              else f"told more or less than once: {len(faults)} files")
        return 1 if faults else 0
    finally:
        if args.keep:
            print("left in", run.root)
        else:
            shutil.rmtree(run.root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
