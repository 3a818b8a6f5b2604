#!/usr/bin/env python3
"""Writes small seed inputs for the fuzz targets into CORPUS/<target>/ (only where empty)."""
import io
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave
import zipfile


def tiny_wav(rate=8000, channels=1, frames=400):
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(
            struct.pack("<h", int(8000 * math.sin(i / 5))) * channels for i in range(frames)))
    return out.getvalue()


def ffmpeg_audio(args, suffix):
    """A tenth of a second of tone in the given form, or None without ffmpeg."""
    if not shutil.which("ffmpeg"):
        return None
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "seed." + suffix)
        result = subprocess.run(
            ["ffmpeg", "-v", "quiet", "-y", "-f", "lavfi", "-i", "sine=f=440:d=0.1:r=8000",
             "-ac", "1"] + args + [path])
        if result.returncode != 0 or not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


def zip_bytes(entries, method=zipfile.ZIP_STORED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as z:
        for name, data in entries:
            z.writestr(name, data)
    return out.getvalue()


RTF = [
    rb"{\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 Version 1.2\par \b Fixed\b0 : a crash.\par}",
    rb"{\rtf1\ansi{\fonttbl{\f0\fswiss Helvetica;}}{\colortbl;\red255\green0\blue0;}"
    rb"\pard\fs48\i Big\i0\ul under\ulnone \'e9\u8364?\line next\tab x\par}",
    rb"{\rtf1{\*\generator Writer}{\info{\title t}}\pard\plain Text {\b bold {\i both}}\par\par}",
]

EML = [
    b"From: Station <imports@example.org>\r\nTo: a@example.org; \"Doe, J\" <j@example.org>\r\n"
    b"Subject: Imported\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nCart imported.\r\n",
    b"From: x@y.z\nTo: a@b.c, d@e.f\nSubject: =?utf-8?q?Caf=C3=A9?=\nMIME-Version: 1.0\n"
    b"Content-Type: multipart/alternative; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\n"
    b"plain\n--b\nContent-Type: text/html; charset=windows-1252\n"
    b"Content-Transfer-Encoding: quoted-printable\n\n<html><head><style>p{}</style></head>"
    b"<body><p>Caf=E9 &amp; <b>bold</b><br>line &#8364;</p></body></html>\n--b--\n",
    b"From: a@b.c\nTo: d@e.f\nContent-Type: multipart/mixed; boundary=m\n\n--m\n"
    b"Content-Type: text/html\nContent-Transfer-Encoding: base64\n\nPGI+aGk8L2I+\n--m\n"
    b"Content-Type: application/octet-stream; name=x.bin\nContent-Disposition: attachment\n\nAAA\n--m--\n",
]


def seeds():
    wav = tiny_wav()
    yield "riff_fuzzer", [wav, tiny_wav(44100, 2, 100),
                          wav[:40] + b"LIST\x0c\x00\x00\x00INFOINAM\x00\x00\x00\x00" + wav[40:]]
    yield "rtf_fuzzer", RTF
    yield "rtfconv_fuzzer", RTF
    fields = b"Title=Morning Jingle\r\nArtist=Station\r\nDescription=two\\nlines \\\\ x\r\n" \
             b"StartPoint=0.01\r\nOutPoint=0.04\r\nIntroEnd=0.02\r\nExtro=-1\r\n"
    yield "transport_fuzzer", [
        zip_bytes([("cart.txt", fields), ("01234.wav", wav)]),
        zip_bytes([("cart.txt", fields), ("audio.wav", wav)], zipfile.ZIP_DEFLATED),
        zip_bytes([("../evil.wav", wav)]),
        zip_bytes([("a.wav", wav), ("b.mp3", wav)]),
        fields,
    ]
    ini = b"; comment\r\n[Settings]\r\nKey = \"quoted value\" \r\nValue=12abc\r\n\r\n[Fuzz]\r\nKey=old\r\n"
    yield "ini_fuzzer", [
        b"\x00\x05hello" + ini,
        b"\x01\x03 x " + ini,
        b"\x02\x04\"q\"" + ini,
        b"\x04\x00" + ini.replace(b"old", b"caf\xe9"),
        b"\x03\x02ab[Fuzz]\nkey=1\n[fuzz]\nKEY=2\n",
    ]
    yield "mail_fuzzer", EML + [b"\"Name, with comma\" <a@b.c>; plain@x.y,, <z@w.v>"]
    yield "textdecoder_fuzzer", [b"plain ascii", b"\xef\xbb\xbfBOM caf\xc3\xa9", b"caf\xe9 \x80\x9f"]
    yield "language_fuzzer", [
        b"\xef\xbb\xbfId\tEnglish (44)\tDeutsch (49)\r\n12\tHello\tHallo\r\n0\tzero\r\n3\tOnly\r\n",
        b"M,Id\tEnglish\n5\tHello\n\f\x01Id\tFrancais\tOther\n5\tBonjour\tx\n65535\tfar\n",
    ]
    yield "cartnumber_fuzzer", [b"1234 Station Jingle", b"0042", b"Jingle 1234", b"1e5 promo",
                                b"99999999999999999999 x", b"1999.5 half", b"00005-intro"]
    audio = [b"\x00" + wav]
    for index, (args, suffix) in enumerate([(["-c:a", "libmp3lame", "-b:a", "8k"], "mp3"),
                                            (["-c:a", "libvorbis"], "ogg"),
                                            (["-c:a", "flac"], "flac"),
                                            (["-c:a", "adpcm_ms"], "wav"),
                                            (["-c:a", "pcm_mulaw"], "wav")]):
        data = ffmpeg_audio(args, suffix)
        if data:
            selector = {"mp3": 1, "ogg": 2, "flac": 3, "wav": 8}[suffix]
            audio.append(bytes([selector]) + data)
    yield "audioimport_fuzzer", audio


def main():
    corpus = sys.argv[1]
    for target, inputs in seeds():
        folder = os.path.join(corpus, target)
        os.makedirs(folder, exist_ok=True)
        if os.listdir(folder):
            continue
        for index, data in enumerate(inputs):
            with open(os.path.join(folder, "seed-%d" % index), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
