#!/usr/bin/env bash
# Measures sets that follow sets. Prints a Markdown table.
#
#  1. A copy of a real tree (default /usr/share): a full set, then N files touched
#     (default 100); `split --since` against a full split of the same tree, in turn, REPS times:
#     wall time, peak memory, and what the split found (it must plan exactly the N).
#  2. With --chain ROOT: a chain of ten sets of a tree (a full set, then nine sets of 300 files
#     touched each), then `where` for a path of the first set, of the last and of none.
#
# Usage: bench/since.sh [--qvsplit BIN] [--tree DIR] [--touch N] [--reps N] [--chain ROOT]
#                       [--work DIR]
# The tree is copied into the work folder (default /tmp/qvsplit-since-bench) and the copy
# changed; the tree itself is only read.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
QVSPLIT=$REPO/build/qvsplit
TREE=/usr/share
TOUCH=100
REPS=5
CHAIN=
WORK=/tmp/qvsplit-since-bench

while [ $# -gt 0 ]; do
  case "$1" in
    --qvsplit) QVSPLIT=$2; shift 2 ;;
    --tree) TREE=$2; shift 2 ;;
    --touch) TOUCH=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --chain) CHAIN=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "since.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

rm -rf "$WORK"
mkdir -p "$WORK"
copy=$WORK/tree

# "seconds KiB" of one run of the program, its output thrown away.
measure() {
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$QVSPLIT" "$@" > "$WORK/out" 2> /dev/null || true
  tail -1 "$WORK/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cp -a "$TREE" "$copy"
"$QVSPLIT" split --quiet --size 700 --out "$WORK/full" "$copy" > /dev/null
files=$(find "$copy" -type f | wc -l)
sleep 1
find "$copy" -type f | shuf -n "$TOUCH" --random-source=<(yes) | xargs -d '\n' touch
: > "$WORK/full.times"
: > "$WORK/since.times"
for _ in $(seq "$REPS"); do
  rm -rf "$WORK/again" "$WORK/since"
  measure split --quiet --size 700 --out "$WORK/again" "$copy" >> "$WORK/full.times"
  measure split --quiet --size 700 --since "$WORK/full" --out "$WORK/since" "$copy" >> "$WORK/since.times"
done
found=$("$QVSPLIT" split --quiet --json --size 700 --since "$WORK/full" --out "$WORK/since" "$copy" | grep '"since"')
full_s=$(cut -d' ' -f1 "$WORK/full.times" | median)
since_s=$(cut -d' ' -f1 "$WORK/since.times" | median)
full_k=$(cut -d' ' -f2 "$WORK/full.times" | median)
since_k=$(cut -d' ' -f2 "$WORK/since.times" | median)
echo "| $TREE, $files files, $TOUCH touched | median s | peak KiB |"
echo "|---|---|---|"
echo "| split (full) | $full_s | $full_k |"
echo "| split --since the full set | $since_s | $since_k |"
awk -v a="$since_s" -v b="$full_s" -v ka="$since_k" -v kb="$full_k" -v n="$files" \
  'BEGIN { printf "| ratio, and bytes a recorded file | %.2fx | %.0f |\n", a / b, (ka - kb) * 1024 / n }'
echo
echo "found: $found"

if [ -n "$CHAIN" ]; then
  chain=$WORK/chain-tree
  cp -a "$CHAIN" "$chain"
  "$QVSPLIT" split --quiet --size 700 --out "$WORK/set1" "$chain" > /dev/null
  first=$(find "$chain" -type f -print -quit)
  args=(--since "$WORK/set1")
  sets=("$WORK/set1")
  for k in 2 3 4 5 6 7 8 9 10; do
    sleep 1
    find "$chain" -type f | shuf -n 300 --random-source=<(yes "$k") | xargs -d '\n' touch
    "$QVSPLIT" split --quiet --size 700 "${args[@]}" --out "$WORK/set$k" "$chain" > /dev/null
    args+=(--since "$WORK/set$k")
    sets+=("$WORK/set$k")
  done
  last=$(find "$chain" -type f -newer "$WORK/set9/Media1.xml" -print -quit)
  echo
  echo "| where, a chain of ten sets | median s | peak KiB |"
  echo "|---|---|---|"
  for which in first last none; do
    case $which in
      first) p=$first; label="a path of the first set alone" ;;
      last) p=$last; label="a path of the last set" ;;
      none) p=$chain/no-such-file; label="a path of no set" ;;
    esac
    : > "$WORK/where.times"
    for _ in $(seq "$REPS"); do measure where "$p" "${sets[@]}" >> "$WORK/where.times"; done
    echo "| $label | $(cut -d' ' -f1 "$WORK/where.times" | median) | $(cut -d' ' -f2 "$WORK/where.times" | median) |"
  done
fi
