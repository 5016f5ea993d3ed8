#!/usr/bin/env python3
"""Writes samples/sample.pak with `pak create`: a version 3 archive of
sample files written for this project, one storage method per file chosen
with --method-for, so that all four methods appear:

  README.TXT   None     English text
  見本.TXT     NotCode  Japanese text in code page 932
  説明.TXT     Mariel   Japanese and English text in code page 932
  表.TXT       Cocotte  a name whose second byte is 0x5C (表 = 95 5C)
  SCENE.WBM    Mariel   a 96 x 64 WBM image of palette indices
  SCENE.ACT    None     its colour table (256 x red, green, blue)

File times are fixed and read in UTC, so the archive is the same on every
machine.

Run: python3 samples/make_sample.py PAK [OUT]
  PAK  the built pak tool (e.g. build/release/cli/pak)
  OUT  default samples/sample.pak
"""
import calendar
import os
import struct
import subprocess
import sys
import tempfile

ENGLISH = (b"This archive was made for the pak tool's demo.\r\n"
           b"Every storage method appears once at least; the names are in code page 932.\r\n")
MIHON = "この書庫は pak ツールの見本です。\r\n名前も中身もコードページ 932 です。\r\n".encode("cp932")
SETSUMEI = ("説明: 展開すると、画像は PNG にも変換されます。\r\n"
            "Extracting with --images png also converts the image to PNG.\r\n" * 8).encode("cp932")
HYOU = ("表の名前の二バイト目は 0x5C です。\r\n"
        "The second byte of this file's name is 0x5C, a backslash on its own.\r\n" * 4).encode("cp932")


def wbm(width, height):
    """'!WBM', width and height (uint16 LE), 4 header bytes, then the rows."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            ring = int(((x - width / 2) ** 2 + (y - height / 2) ** 2) ** 0.5) // 4
            pixels.append((ring * 16 + (x // 8)) & 0xFF)
    return b"!WBM" + struct.pack("<HHI", width, height, 0) + bytes(pixels)


def colour_table():
    table = bytearray()
    for i in range(256):
        table += bytes(((i * 5) & 0xFF, (i * 3 + 64) & 0xFF, (255 - i) & 0xFF))
    return bytes(table)


FILES = [  # (name, bytes, UTC time)
    ("README.TXT", ENGLISH, (2026, 12, 11, 9, 0, 0)),
    ("見本.TXT", MIHON, (2026, 12, 11, 9, 30, 0)),
    ("説明.TXT", SETSUMEI, (2026, 12, 10, 18, 45, 0)),
    ("表.TXT", HYOU, (2001, 9, 9, 12, 0, 0)),
    ("SCENE.WBM", wbm(96, 64), (2026, 12, 1, 8, 0, 0)),
    ("SCENE.ACT", colour_table(), (2026, 12, 1, 8, 0, 0)),
]

METHODS = ["README.TXT=none", "見本.TXT=notcode", "説明.TXT=mariel", "表.TXT=cocotte",
           "*.WBM=mariel", "*.ACT=none"]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    pak = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else "samples/sample.pak"
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for name, data, when in FILES:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(data)
            seconds = calendar.timegm(when)
            os.utime(path, (seconds, seconds))
            paths.append(path)
        command = [pak, "create", "--force", "--format", "3"]
        for rule in METHODS:
            command += ["--method-for", rule]
        subprocess.run(command + [out] + paths, check=True, env=dict(os.environ, TZ="UTC"))


if __name__ == "__main__":
    main()
