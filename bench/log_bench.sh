#!/usr/bin/env bash
# Measures what the full trace log costs a split: the same qvsplit split of the benchmark tree
# without a log and with --log FILE, alternating, and prints a Markdown table with the ratio
# of the medians and how much log was written. Each run starts with nothing waiting to be
# written to disk (sync, outside the clock).
#
# Usage: bench/log_bench.sh [--reps N] [--files N] [--work DIR]
# (defaults: 5 repetitions of each, the 200,000-file tree of compare.sh, made by it when
# missing, in /tmp/qvsplit-bench or $QVSPLIT_BENCH_DIR)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-bench}
REPS=5
FILES=200000
SPLIT_MB=700

while [ $# -gt 0 ]; do
  case "$1" in
    --reps) REPS=$2; shift 2 ;;
    --files) FILES=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "log_bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

"$REPO/scripts/setup.sh" time
QVSPLIT_BENCH_DIR=$WORK "$REPO/bench/compare.sh" --trees-only --files "$FILES"
TREE=$WORK/tree-$FILES

BUILD=$REPO/build-bench
echo "== building the Release program in $BUILD" >&2
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=ON > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target qvsplit > /dev/null
QVSPLIT=$BUILD/qvsplit
unset QVSPLIT_DRIVE_C QVSPLIT_LOG QVSPLIT_LOG_LEVEL QVSPLIT_LOG_MAX_MB

OUT=$WORK/log-out
LOG=$WORK/log-out.log
find "$TREE" -type f -printf '%s\n' > /dev/null  # warm the cache once

# One timed split; prints its wall seconds. A failed run stops the script.
run() {
  local t wall
  rm -rf "$OUT" "$LOG" "$LOG.1"
  # The disk writes back what the run before wrote (a gigabyte of trace) before the clock
  # starts: otherwise each run pays for its predecessor, as the media files are flushed to
  # disk one by one and every flush waits for whatever is pending on the file system.
  sync
  t=$(mktemp)
  if ! /usr/bin/time -f '%e' -o "$t" "$QVSPLIT" split --quiet --size "$SPLIT_MB" --out "$OUT" "$@" \
      "$TREE" > /dev/null 2>&1; then
    echo "log_bench.sh: failed: qvsplit split $*" >&2
    exit 1
  fi
  wall=$(tail -n 1 "$t")
  rm -f "$t"
  echo "$wall"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

plain=() logged=()
kept=0
for ((i = 0; i < REPS; ++i)); do
  plain+=("$(run)")
  logged+=("$(run --log "$LOG")")
  # What the bound (256 MiB by default) left on disk: FILE and FILE.1. Their sizes, not their
  # bytes: reading 300 MB back between runs made the next traced run 0.4 s slower here.
  kept=$(( $(stat -c %s "$LOG" 2>/dev/null || echo 0) + $(stat -c %s "$LOG.1" 2>/dev/null || echo 0) ))
done
# A run with no bound, once, for the full size of the trace.
rm -rf "$OUT" "$LOG" "$LOG.1"
QVSPLIT_LOG_MAX_MB=1000000 "$QVSPLIT" split --quiet --size "$SPLIT_MB" --out "$OUT" --log "$LOG" \
  "$TREE" > /dev/null 2>&1
lines=$(wc -l < "$LOG")
bytes=$(stat -c %s "$LOG")
rm -rf "$OUT" "$LOG" "$LOG.1"

P=$(median "${plain[@]}")
L=$(median "${logged[@]}")
echo "Machine: $(nproc) processors, $(uname -sr), $(date -u '+%Y-%m-%d %H:%M UTC'); $FILES files, --size $SPLIT_MB, $REPS runs each, alternating, warm cache; medians."
echo
echo "| run | median wall s | all runs s | x without log |"
echo "|---|---|---|---|"
awk -v p="$P" -v all="${plain[*]}" 'BEGIN { printf "| no log | %.2f | %s | 1.00 |\n", p, all }'
awk -v p="$P" -v l="$L" -v all="${logged[*]}" \
  'BEGIN { printf "| --log FILE (full trace) | %.2f | %s | %.2f |\n", l, all, (p > 0 ? l / p : 0) }'
echo
echo "Trace of one split: $lines lines, $bytes bytes; on disk after a run with the default bound (256 MiB): $kept bytes in FILE and FILE.1."
