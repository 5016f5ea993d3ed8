#!/usr/bin/env bash
# speed.sh -- whole-process decode speed of `pak test` side by side with the
# established decoders, measured in one interleaved run of anchors.sh.
#
# usage: bench/speed.sh [-p PAK] [-c CORPUS_DIR] [-n RUNS] [-w WARMUP] [-m]
#                       [-x 'NAME[:BYTES]=COMMAND'] ...
#   PAK         the pak tool (default build/speed-cli/cli/pak, else build/release/cli/pak)
#   CORPUS_DIR  made by ../shared/bench/make_corpus.sh (default /tmp/pakbench-corpus)
#   -m          also the whole corpus as files: members/ (2,904 entries) in one
#               all-Cocotte archive, extracted into a folder by `pak extract`
#               with -j 1 and with -j 2
#   -x          further commands for anchors.sh (e.g. an older pak, to compare)
#
# Builds, on tmpfs, archives of all.bin as one entry with `pak create`:
# all Cocotte, all Mariel, and auto (the smallest method per entry); checks
# each with `pak test`; then times `pak test ARCHIVE` of each alongside
# anchors.sh's anchors (cat, lz4 -d, gzip -d, bzip2 -d of -1 and -9) and
# prints one table: method, ratio (input / archive), MB/s of output
# (median), and the median of the per-round speed ratios to each anchor;
# then the peak resident set of `pak test` of each one-entry archive.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
ANCHORS=${ANCHORS:-$ROOT/../shared/bench/anchors.sh}
[ -f "$ANCHORS" ] || ANCHORS=/work/shared/bench/anchors.sh
PAK= CORPUS=/tmp/pakbench-corpus RUNS=7 WARM=1 MEMBERS=0 EXTRA=()
while getopts "p:c:n:w:mx:h" o; do
  case $o in
    p) PAK=$OPTARG ;; c) CORPUS=$OPTARG ;; n) RUNS=$OPTARG ;; w) WARM=$OPTARG ;;
    m) MEMBERS=1 ;; x) EXTRA+=(-x "$OPTARG") ;; *) sed -n '2,18p' "$0"; exit 2 ;;
  esac
done
if [ -z "$PAK" ]; then
  for candidate in "$ROOT/build/speed-cli/cli/pak" "$ROOT/build/release/cli/pak"; do
    [ -x "$candidate" ] && { PAK=$candidate; break; }
  done
fi
[ -n "$PAK" ] && [ -x "$PAK" ] || { echo "no pak tool: build one and pass -p" >&2; exit 1; }
PAK=$(cd "$(dirname "$PAK")" && pwd)/$(basename "$PAK")
ALL=$CORPUS/all.bin
[ -f "$ALL" ] || { echo "no $ALL: run make_corpus.sh first" >&2; exit 1; }

BASE=/dev/shm; [ -w "$BASE" ] || BASE=${TMPDIR:-/tmp}
W=$(mktemp -d "$BASE/pakbench-speed.XXXXXX")
trap 'rm -rf "$W"' EXIT
cp "$ALL" "$W/all.bin"
BYTES=$(stat -c %s "$W/all.bin")

# name, archive, bytes it decodes to
ROWS=()
for method in cocotte mariel auto; do
  "$PAK" create --force --method "$method" "$W/$method.pak" "$W/all.bin" >/dev/null
  ROWS+=("pak-$method $W/$method.pak $BYTES")
done
ARGS=()
for row in "${ROWS[@]}"; do
  read -r name archive bytes <<<"$row"
  "$PAK" test "$archive" >/dev/null  # the figures count only for a good archive
  ARGS+=(-x "$name:$bytes=exec $PAK test $archive >/dev/null")
done
if [ "$MEMBERS" = 1 ]; then
  # Copies named by number: entry names hold at most 21 + 3 bytes.
  mkdir "$W/members"
  n=0
  while read -r file; do
    n=$((n + 1))
    cp "$file" "$W/members/$(printf '%05d' "$n").bin"
  done < <(find "$CORPUS/members" -type f | sort)
  files=("$W"/members/*.bin)
  "$PAK" create --force --method cocotte "$W/members.pak" "${files[@]}" >/dev/null
  bytes=$(cat "${files[@]}" | wc -c)
  rm -r "$W/members"
  "$PAK" test "$W/members.pak" >/dev/null
  ROWS+=("pak-members-x-j1 $W/members.pak $bytes" "pak-members-x-j2 $W/members.pak $bytes")
  # Every round writes the files anew (-f), into a folder on tmpfs.
  for jobs in 1 2; do
    ARGS+=(-x "pak-members-x-j$jobs:$bytes=exec $PAK extract -q -f -j $jobs -o $W/out-j$jobs $W/members.pak >/dev/null")
  done
fi

bash "$ANCHORS" -c "$CORPUS" -n "$RUNS" -w "$WARM" -j "$W/anchors.json" "${ARGS[@]}" "${EXTRA[@]+"${EXTRA[@]}"}"

echo
python3 - "$W/anchors.json" "$BYTES" "${ROWS[@]}" <<'PY'
import json, os, sys
res = json.load(open(sys.argv[1]))
total = int(sys.argv[2])
ratios = {}
for row in sys.argv[3:]:
    name, archive, nbytes = row.split()
    ratios[name] = int(nbytes) / os.path.getsize(archive)
anchors = ["cat", "lz4 -d", "gzip -d", "bzip2-1 -d", "bzip2-9 -d"]
print("| command | ratio | MB/s (median) | " + " | ".join(f"x {a}" for a in anchors) + " |")
print("| --- | ---: | ---: | " + " | ".join("---:" for _ in anchors) + " |")
for name, r in res.items():
    ratio = f"{ratios[name]:.3f}" if name in ratios else ""
    print(f"| {name} | {ratio} | {r['mbps'][1]:.1f} | " +
          " | ".join(f"{r['speed_vs'][a]:.3f}" for a in anchors) + " |")
PY

echo
for method in cocotte mariel; do
  rss=$( { /usr/bin/time -f %M "$PAK" test "$W/$method.pak" >/dev/null; } 2>&1 )
  echo "peak RSS of pak test $method.pak (one entry of $BYTES bytes): $rss KiB"
done
