#!/usr/bin/env python3
"""Writes samples/sample.pak: a small version 3 archive with one entry of
each storage method, Japanese and English names and texts (names and the
Japanese text in code page 932), and file times.

The Mariel and Cocotte entries are small hand-made streams:
  ABC.TXT     Mariel: flag word 0x10000000, literals a b c, then token 0x52
              (length code 5 -> 6 bytes, distance code 2 -> 3 bytes back)
  BANANA.TXT  Cocotte: one stored block; after move-to-front the symbols are
              the primary index 3 and the last column "annb" + "aa"
  AAAA.BIN    Cocotte: one range-coded block of 100 bytes of 'a'

Run: python3 samples/make_sample.py [OUT]
"""
import struct
import sys


def filetime(year, month, day, hour, minute, second):
    import datetime
    delta = datetime.datetime(year, month, day, hour, minute, second) - datetime.datetime(1601, 1, 1)
    return (delta.days * 86400 + delta.seconds) * 10_000_000


def name_fields(name):
    raw = name.encode("cp932")
    stem, _, ext = raw.rpartition(b".") if b"." in raw else (raw, b"", b"")
    assert len(stem) <= 21 and len(ext) <= 3, name
    return stem.ljust(21, b"\0") + ext.ljust(3, b"\0")


ENGLISH = (b"This archive was made for the pak tool's demo.\r\n"
           b"Every entry uses another storage method.\r\n")
JAPANESE = "この書庫は pak ツールの見本です。\r\n名前も中身もコードページ 932 です。\r\n".encode("cp932")

MARIEL_ABC = bytes.fromhex("00000010616263 52".replace(" ", ""))
COCOTTE_BANANA = bytes.fromhex("0C00060003016E0063630000")
COCOTTE_A100 = bytes.fromhex("17006400001B4CF1EC000000000000000000196C000013")

# (name, method, stored bytes, unpacked size, aux value or None, file time)
ENTRIES = [
    ("README.TXT", 0, ENGLISH, len(ENGLISH), None, filetime(2026, 12, 11, 9, 0, 0)),
    ("見本.TXT", 3, bytes(b ^ 0xFF for b in JAPANESE), len(JAPANESE), 932, filetime(2026, 12, 11, 9, 30, 0)),
    ("ABC.TXT", 1, MARIEL_ABC, 9, None, filetime(2001, 9, 9, 12, 0, 0)),
    ("BANANA.TXT", 2, COCOTTE_BANANA, 6, None, filetime(2001, 9, 9, 12, 0, 0)),
    ("AAAA.BIN", 2, COCOTTE_A100, 100, None, 0),
]


def build():
    data = b""
    directory = b""
    for name, method, stored, unpacked, aux, time in ENTRIES:
        offset = len(data)
        data += stored
        directory += name_fields(name)
        directory += struct.pack("<IIIBBH", offset, unpacked, len(stored), method,
                                 0 if aux is None else 1, aux or 0)
        directory += struct.pack("<Q", time)
    header = b"HyPack\0" + bytes([3]) + struct.pack("<ii", len(data), len(ENTRIES))
    return header + data + directory


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "samples/sample.pak"
    with open(out, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
