#!/usr/bin/env bash
# The catalogue every disc carries, and what it costs: a tree planned for CDs with and without
# the room for it (the room, the media, the time of each split), and the medium with the most
# files packed, its catalogue files measured on the image with xorriso against the capacity.
#
# Tree: the benchmark tree of 200,000 files (make_tree.sh ROOT 200000 10, sparse), or --tree DIR.
# Usage: bench/catalog_room.sh [--tree DIR] [--size cd|dvd|bd|MB] [--runs N]
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-catalog-bench}
TREE=""
SIZE=cd
RUNS=3
while [ $# -gt 0 ]; do
  case $1 in
    --tree) TREE=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    *) echo "usage: $0 [--tree DIR] [--size SIZE] [--runs N]" >&2; exit 2 ;;
  esac
done
"$REPO/scripts/setup.sh" xorriso
BUILD=$REPO/build-bench
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=OFF > /dev/null
cmake --build "$BUILD" -j2 --target qvsplit > /dev/null
QV=$BUILD/qvsplit
mkdir -p "$WORK"
if [ -z "$TREE" ]; then
  TREE=$WORK/tree-200000
  "$REPO/../shared/bench/make_tree.sh" "$TREE" 200000 10 > /dev/null
fi

# The median wall time of RUNS splits, and the last one's JSON summary in $WORK/$1.json.
split_time() {
  local name=$1; shift
  local times=()
  for _ in $(seq "$RUNS"); do
    rm -rf "$WORK/$name"
    local start end
    start=$(date +%s.%N)
    "$QV" split --quiet --json --size "$SIZE" "$@" --out "$WORK/$name" "$TREE" > "$WORK/$name.json" 2>/dev/null
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (RUNS + 1) / 2 ))p"
}

with=$(split_time with --catalog)
without=$(split_time without --no-catalog)
python3 - "$WORK" "$with" "$without" <<'PY'
import json, sys
work, t_with, t_without = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
w = json.load(open(work + '/with.json'))
n = json.load(open(work + '/without.json'))
cap = w['split_size_mb'] * 1048576
print('room kept on every medium: %d bytes (%.2f %% of the capacity)' % (w['catalog_room_bytes'], 100.0 * w['catalog_room_bytes'] / cap))
print('media: %d with the room, %d without' % (w['media_count'], n['media_count']))
print('split: %.2f s with the room, %.2f s without (median)' % (t_with, t_without))
most = max(w['media'], key=lambda m: m['files'])
print('medium with the most files: %s (%d files)' % (most['file'], most['files']))
open(work + '/most', 'w').write(most['file'][len('Media'):-len('.xml')])
PY
most=$(cat "$WORK/most")
rm -rf "$WORK/images"
"$QV" pack --quiet --format iso --medium "$most" --to "$WORK/images" "$WORK/with" > /dev/null
image=$WORK/images/Media$most.iso
xorriso -indev "$image" -find / -maxdepth 1 -name 'QVSPLIT-*' -exec lsdl 2>/dev/null |
  awk '{ total += $5; printf "  %-28s %12d bytes\n", $NF, $5 } END { printf "  catalogue files in all       %12d bytes\n", total }'
echo "image: $(stat -c %s "$image") bytes"
rm -rf "$WORK/images"
