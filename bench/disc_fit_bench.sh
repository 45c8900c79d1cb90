#!/usr/bin/env bash
# Plans trees for real discs and builds every medium's image size with xorriso: the plan's
# predicted image against the exact one, no image over its disc, and the media count against
# the lower bound in sectors (the image sectors of the whole tree, less one medium's fixed
# structures each, over the disc's sectors).
#
# Trees: a generated one of many small files (sparse, so it costs no disk; 1 to 8 KiB each in
# folders of 1,000), and any given with --tree (e.g. /usr). Presets: cd, dvd, bd by default.
# Usage: bench/disc_fit_bench.sh [--files N] [--tree DIR]... [--preset P]...
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
FILES=200000
TREES=()
PRESETS=()
while [ $# -gt 0 ]; do
  case $1 in
    --files) FILES=$2; shift 2 ;;
    --tree) TREES+=("$2"); shift 2 ;;
    --preset) PRESETS+=("$2"); shift 2 ;;
    *) echo "usage: $0 [--files N] [--tree DIR]... [--preset P]..." >&2; exit 2 ;;
  esac
done
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(cd dvd bd)

"$REPO/scripts/setup.sh" xorriso
BUILD=$REPO/build-bench
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=OFF > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target qvsplit > /dev/null
QV=$BUILD/qvsplit

WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-bench}
SMALL=$WORK/small-$FILES
if [ ! -d "$SMALL" ]; then
  echo "generating $FILES sparse files of 1 to 8 KiB in $SMALL"
  python3 - "$SMALL" "$FILES" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
random.seed(11)
for i in range(n):
    folder = os.path.join(root, 'g%02d' % (i // 100000), 'd%04d' % ((i // 1000) % 100))
    if i % 1000 == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'file-%07d.bin' % i), 'wb') as f:
        f.truncate(random.randint(1024, 8192))
PY
fi
TREES=("$SMALL" "${TREES[@]}")

declare -A SECTORS=([cd]=360000 [dvd]=2295104 [dvd-dl]=4171712 [bd]=12219392 [bd-dl]=24438784)
for tree in "${TREES[@]}"; do
  for preset in "${PRESETS[@]}"; do
    out=$WORK/media-$(basename "$tree")-$preset
    rm -rf "$out"
    "$QV" split --quiet --no-catalog --size "$preset" --out "$out" "$tree" > "$out.summary" 2>&1 || true
    echo "== $tree on $preset ($(ls "$out"/Media*.xml | wc -l) media)"
    python3 "$REPO/scripts/check-iso-fit.py" --media "$out" --capacity-sectors "${SECTORS[$preset]}" \
      | tee "$out.fit" | tail -1
    # Lower bound in sectors: every medium's image less its fixed structures (186 sectors),
    # summed, over the disc less those structures.
    python3 - "$out.fit" "${SECTORS[$preset]}" <<'PY'
import sys, math
rows = [l.split() for l in open(sys.argv[1]) if l.startswith('Media')]
cap = int(sys.argv[2]) - 186
used = sum(int(r[3]) // 2048 - 186 for r in rows)
print('media %d, lower bound in sectors %d' % (len(rows), math.ceil(used / cap)))
PY
  done
done
