#!/usr/bin/env bash
# Times `qvsplit pack --format iso` against xorriso building the same medium from the path list
# that `qvsplit pack --format list` writes, and compares the two images' sizes.
#
# The tree (generated once into $QVSPLIT_BENCH_DIR/pack-tree, default /tmp/qvsplit-bench) holds
# real data, not sparse files, so both programs read every byte: 6,000 files of 1 to 64 KiB in
# 120 folders and 6 files of 80 MiB, about 670 MiB, which the plan puts on one CD.
# Usage: bench/pack_bench.sh [--runs N] [--tree DIR]   (DIR: plan and pack that tree instead)
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
RUNS=5
TREE=""
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=$2; shift 2 ;;
    --tree) TREE=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--tree DIR]" >&2; exit 2 ;;
  esac
done

"$REPO/scripts/setup.sh" xorriso hyperfine

BUILD=$REPO/build-bench
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=OFF > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target qvsplit > /dev/null
QV=$BUILD/qvsplit

WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-bench}
mkdir -p "$WORK"
if [ -z "$TREE" ]; then
  TREE=$WORK/pack-tree
  if [ ! -f "$TREE/.complete" ]; then
    echo "generating $TREE"
    rm -rf "$TREE"
    python3 - "$TREE" <<'PY'
import os, random, sys
top = sys.argv[1]
rnd = random.Random(20261208)
for d in range(120):
    folder = os.path.join(top, "dir%03d" % d, "sub%d" % (d % 7))
    os.makedirs(folder, exist_ok=True)
    for f in range(50):
        with open(os.path.join(folder, "file %04d.dat" % f), "wb") as out:
            out.write(rnd.randbytes(rnd.randint(1024, 65536)))
big = os.path.join(top, "big")
os.makedirs(big, exist_ok=True)
for b in range(6):
    with open(os.path.join(big, "video%d.bin" % b), "wb") as out:
        for _ in range(80):
            out.write(rnd.randbytes(1 << 20))
open(os.path.join(top, ".complete"), "w").close()
PY
  fi
fi

PLAN=$WORK/pack-plan
OUT=$WORK/pack-out
rm -rf "$PLAN" "$OUT"
"$QV" split --quiet --size cd --out "$PLAN" "$TREE" > /dev/null
"$QV" pack --quiet --format list --medium 1 --to "$OUT" "$PLAN" > /dev/null
# Reading from the page cache for both: the first run of each warms it. The image holds the
# plan's files only, as the path list gives xorriso (no catalogue files).
hyperfine --warmup 1 --runs "$RUNS" --export-markdown "$WORK/pack-times.md" \
  -n "qvsplit pack --format iso" \
  "$QV pack --quiet --format iso --no-catalog --medium 1 --to $OUT $PLAN" \
  -n "xorriso -as mkisofs" \
  "xorriso -as mkisofs -f -R -J -joliet-long -iso-level 3 -graft-points -path-list $OUT/Media1.list -o $OUT/xorriso.iso 2>/dev/null"

pack_size=$(stat -c %s "$OUT/Media1.iso")
xorriso_size=$(stat -c %s "$OUT/xorriso.iso")
files=$(xorriso -indev "$OUT/Media1.iso" -find / -type f 2>/dev/null | wc -l)
xfiles=$(xorriso -indev "$OUT/xorriso.iso" -find / -type f 2>/dev/null | wc -l)
echo
cat "$WORK/pack-times.md"
echo
echo "image sizes: qvsplit pack $pack_size bytes ($((pack_size / 2048)) sectors, $files files)," \
  "xorriso $xorriso_size bytes ($((xorriso_size / 2048)) sectors, $xfiles files)," \
  "difference $(((xorriso_size - pack_size) / 2048)) sectors"
