#!/usr/bin/env bash
# Splits real trees of this machine with both methods at several sizes and checks every plan
# with scripts/check-plan.py; prints a Markdown table.
# Usage: scripts/check-real-trees.sh [BUILD_DIR] [TREE...]   (default: build, /usr /usr/share /usr/lib /etc)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(/usr /usr/share /usr/lib /etc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "| tree | method | size MB | media | lower bound | entries planned | left out | largest medium | problems | split s |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for tree in "${trees[@]}"; do
  for method in files dirs; do
    for size in 50 100 700; do
      out=$work/out
      rm -rf "$out"
      start=$(date +%s%N)
      "$build/qvsplit" split --quiet --json --method "$method" --size "$size" --out "$out" "$tree" > "$work/summary.json" 2> "$work/err.txt"
      rc=$?
      ms=$(( ($(date +%s%N) - start) / 1000000 ))
      if [ $rc -ne 0 ]; then
        echo "| $tree | $method | $size | split failed (rc $rc): $(head -c 200 "$work/err.txt" | tr '\n' ' ') | | | | | | |"
        continue
      fi
      python3 "$top/scripts/check-plan.py" --qvsplit "$build/qvsplit" --media "$out" --size "$size" "$tree" > "$work/check.txt"
      read -r media bound leftout largest < <(python3 - "$work/summary.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
print(s["media_count"], s["lower_bound"], len(s["left_out"]), max(m["size"] for m in s["media"]))
PY
)
      planned=$(sed -n 's/.* media, \([0-9]*\) entries planned.*/\1/p' "$work/check.txt")
      problems=$(sed -n 's/.* entries planned, \([0-9]*\) problems/\1/p' "$work/check.txt")
      printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %d.%d |\n' "$tree" "$method" "$size" "$media" "$bound" \
        "$planned" "$leftout" "$largest" "$problems" $((ms / 1000)) $((ms % 1000 / 100))
      [ "$problems" = 0 ] || grep '^check-plan: ' "$work/check.txt" | head -5 >&2
    done
  done
done
