#!/usr/bin/env bash
# Measures the report page of large sets: its size, plain and with its data gzip-compressed,
# and the time headless Chromium takes to its first render (the page's own data-render-ms:
# from the start of loading to the overview on screen), and with a search in its address.
#
# Sets: /usr/share (split --size cd) and a generated tree of N files (make_tree.sh, default
# 1,000,000, split --size bd), both in /tmp/qvsplit-page-bench or $QVSPLIT_BENCH_DIR.
# Usage: bench/report_page.sh [--files N] [--tree DIR]... [--qvsplit PROGRAM] [--runs N]
# (each --tree measures that folder instead of the two sets; PROGRAM defaults to build/qvsplit)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-page-bench}
FILES=1000000
RUNS=3
QV=$REPO/build/qvsplit
TREES=()
while [ $# -gt 0 ]; do
  case $1 in
    --files) FILES=$2; shift 2 ;;
    --tree) TREES+=("$2"); shift 2 ;;
    --qvsplit) QV=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "report_page.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$QV" ] || { echo "report_page.sh: no program at $QV (build the qvsplit target)" >&2; exit 2; }
BROWSER=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[ -n "$BROWSER" ] || { echo "report_page.sh: no Chromium installed" >&2; exit 2; }
mkdir -p "$WORK"

if [ ${#TREES[@]} -eq 0 ]; then
  "$REPO/../shared/bench/make_tree.sh" "$WORK/tree-$FILES" "$FILES" 10
  TREES=(/usr/share "$WORK/tree-$FILES")
fi

# The page with its data block as base64 of its gzip stream.
pack_page() {
  python3 - "$1" "$2" <<'PY'
import base64, gzip, re, sys
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<script type="application/json" id="qvsplit-data">(.*?)</script>', text, re.S)
packed = base64.b64encode(gzip.compress(m.group(1).encode('utf-8'), 6)).decode()
open(sys.argv[2], 'w', encoding='utf-8').write(text[:m.start()] + '<script type="application/octet-stream" '
    'id="qvsplit-data-gz">' + packed + '</script>' + text[m.end():])
PY
}

# The least data-render-ms of RUNS loads of page URL, in a browser driven as the browser test
# drives it, with the wall time of that load.
render_ms() {
  PYTHONPATH=$REPO/tests/tools python3 - "$BROWSER" "$WORK/profile" "$1" "$RUNS" <<'PY'
import sys, time
from report_browser_test import Browser
browser, profile, url, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
best = None
for _ in range(runs):
    b = Browser(browser, profile)
    try:
        start = time.monotonic()
        b.open(url)
        ms = b.rendered(timeout=600)
        wall = time.monotonic() - start
    finally:
        b.close()
    if best is None or ms < best[0]:
        best = (ms, wall)
print('%.0f ms (load to render %.1f s)' % best)
PY
}

for TREE in "${TREES[@]}"; do
  name=$(basename "$TREE")
  out=$WORK/media-$name
  size=bd
  [ "$TREE" = /usr/share ] && size=cd
  rm -rf "$out"
  "$QV" split --quiet --size "$size" --out "$out" "$TREE" > /dev/null 2>&1 || [ -n "$(ls "$out"/Media*.xml 2>/dev/null)" ]
  page=$WORK/page-$name.html
  start=$(date +%s.%N)
  "$QV" report --quiet --out "$page" "$out" > /dev/null
  end=$(date +%s.%N)
  pack_page "$page" "$WORK/page-$name-gz.html"
  media=$(ls "$out"/Media*.xml | wc -l)
  rows=$(grep -o '^\[[0-9]*,' "$page" | wc -l)
  echo "== $TREE: $rows rows on $media media (--size $size); report made in $(awk "BEGIN{printf \"%.1f\", $end - $start}") s"
  echo "page:            $(stat -c %s "$page") bytes; first render $(render_ms "file://$page")"
  echo "page, searched:  first render with #q=copyright $(render_ms "file://$page#q=copyright")"
  echo "page, gzip:      $(stat -c %s "$WORK/page-$name-gz.html") bytes; first render $(render_ms "file://$WORK/page-$name-gz.html")"
done
