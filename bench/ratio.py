#!/usr/bin/env python3
"""Compression ratio and encode speed of `pak create` (Cocotte, Mariel at
each level, auto) side by side with bzip2 -1/-9, gzip -6 and lz4 -9 on the
same files, in one run.

usage: bench/ratio.py [--pak build/release/cli/pak] [--corpus /tmp/pakbench-corpus]
                      [--kinds text,sjis,...] [--runs N]

The corpus comes from ../shared/bench/make_corpus.sh. Every pak archive is
checked with `pak test` before its figures count. Speeds are MB/s of input
(10^6 bytes per second), the best of --runs runs, whole process, output on
tmpfs.
"""
import argparse
import os
import shutil
import subprocess
import tempfile
import time

CODECS = [
    ("pak cocotte", lambda pak, src, dst: [pak, "create", "--force", "--format", "2", "--method", "cocotte", dst, src], ".pak"),
    ("pak mariel -1", lambda pak, src, dst: [pak, "create", "--force", "--format", "2", "--method", "mariel", "--level", "1", dst, src], ".pak"),
    ("pak mariel -2", lambda pak, src, dst: [pak, "create", "--force", "--format", "2", "--method", "mariel", "--level", "2", dst, src], ".pak"),
    ("pak mariel -3", lambda pak, src, dst: [pak, "create", "--force", "--format", "2", "--method", "mariel", "--level", "3", dst, src], ".pak"),
    ("bzip2 -1", lambda pak, src, dst: ["sh", "-c", f"bzip2 -1 -c '{src}' > '{dst}'"], ".bz2"),
    ("bzip2 -9", lambda pak, src, dst: ["sh", "-c", f"bzip2 -9 -c '{src}' > '{dst}'"], ".bz2"),
    ("gzip -6", lambda pak, src, dst: ["sh", "-c", f"gzip -6 -c '{src}' > '{dst}'"], ".gz"),
    ("lz4 -9", lambda pak, src, dst: ["sh", "-c", f"lz4 -9 -q -c '{src}' > '{dst}'"], ".lz4"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", default="build/release/cli/pak")
    parser.add_argument("--corpus", default="/tmp/pakbench-corpus")
    parser.add_argument("--kinds", default="text,sjis,elf,image,audio,random,all")
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    pak = os.path.abspath(args.pak)
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    work = tempfile.mkdtemp(prefix="pakbench-ratio.", dir=base)
    try:
        print("| input | bytes | codec | compressed | ratio | % of bzip2 -1 | encode MB/s |")
        print("| --- | ---: | --- | ---: | ---: | ---: | ---: |")
        for kind in args.kinds.split(","):
            source = os.path.join(args.corpus, "all.bin" if kind == "all" else f"kinds/{kind}.bin")
            local = os.path.join(work, kind + ".bin")
            shutil.copyfile(source, local)
            size = os.path.getsize(local)
            results = []
            for name, command, suffix in CODECS:
                out = os.path.join(work, kind + suffix)
                best = None
                for _ in range(args.runs):
                    start = time.perf_counter()
                    subprocess.run(command(pak, local, out), check=True, stderr=subprocess.DEVNULL)
                    elapsed = time.perf_counter() - start
                    best = elapsed if best is None else min(best, elapsed)
                if name.startswith("pak"):
                    subprocess.run([pak, "test", out], check=True, stdout=subprocess.DEVNULL)
                results.append((name, os.path.getsize(out), best))
                os.remove(out)
            bzip1 = next(r[1] for r in results if r[0] == "bzip2 -1")
            for name, packed, seconds in results:
                print(f"| {kind} | {size:,} | {name} | {packed:,} | {size / packed:.3f} | "
                      f"{100 * packed / bzip1:.1f} | {size / seconds / 1e6:.1f} |", flush=True)
            os.remove(local)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
