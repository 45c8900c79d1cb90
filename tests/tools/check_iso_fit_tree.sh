#!/usr/bin/env bash
# Splits trees that each isolate one term of the ISO 9660 or tar allocation model onto small
# media and builds every medium's image with xorriso (genisoimage -udf for the UDF bridge), or
# its archive with qvsplit pack (read back with GNU tar): no image or archive may exceed its
# medium or the plan's prediction, and the prediction may not exceed it by more than the
# tolerance of that row.
# Usage: tests/tools/check_iso_fit_tree.sh PATH/TO/qvsplit
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qvsplit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
checker=$here/../../scripts/check-iso-fit.py
command -v xorriso >/dev/null || { echo "xorriso is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_tree() {  # case name -> tree under $work/$1
  local t=$work/$1 i
  mkdir -p "$t"
  case $1 in
  many-folders)  # a folder's directory sectors and path table rows
    for i in $(seq 1 300); do mkdir "$t/f$i"; printf x > "$t/f$i/a$i"; done ;;
  nested-folders)  # a folder needed by every file below it, once per medium
    mkdir -p "$t/$(printf 'level%d/' $(seq 1 60))"
    for i in $(seq 1 40); do printf y > "$t/$(printf 'level%d/' $(seq 1 $((i + 10))))file$i"; done ;;
  long-names)  # names up to the longest Joliet name and beyond
    for i in $(seq 1 150); do printf z > "$t/$(printf "%0$((50 + i))d" "$i")"; done ;;
  non-ascii-names)  # names whose UTF-8 is longer than their UTF-16
    for i in $(seq 1 200); do printf u > "$t/名前のファイル$i"; done ;;
  block-multiples)  # file data in whole sectors: exact multiples and one byte more
    for i in $(seq 1 60); do
      head -c $((2048 * i)) /dev/zero > "$t/exact$i"
      head -c $((2048 * i + 1)) /dev/zero > "$t/over$i"
    done ;;
  case-twin-folders)  # folders whose names differ only in letter case: two folders each
    for i in $(seq 1 200); do mkdir "$t/A$i" "$t/a$i"; : > "$t/A$i/x"; : > "$t/a$i/x"; done ;;
  long-folder-names)  # folders of long names: their rows in the four path tables
    for i in $(seq 1 200); do
      mkdir "$t/$(printf 'folder-%04d-%0100d' "$i" 0)"; : > "$t/$(printf 'folder-%04d-%0100d' "$i" 0)/f"
    done ;;
  long-link-targets)  # links whose targets Rock Ridge stores, some in continuation areas
    for i in $(seq 1 300); do ln -s "$(printf "c%03d%045d/" "$i" 0 "$i" 0 "$i" 0 "$i" 0 "$i" 0 "$i" 0 "$i" 0 "$i" 0)" "$t/l$i"; done
    ln -s "$(printf "%049d/" $(seq 1 22))" "$t/far" ;;  # beyond what an image stores: left out
  full-folder)  # one folder whose records fill many directory sectors
    for i in $(seq 1 900); do : > "$t/entry-with-a-longer-name-$i.txt"; done ;;
  spilling-names)  # one file to a folder, names too long for their records: each folder's
    # continuation area takes a block for a few bytes
    for i in $(seq 1 60); do  # the number first: genisoimage cuts Joliet names short
      mkdir "$t/$i$(printf '名%.0s' $(seq 1 78))"; : > "$t/$i$(printf '名%.0s' $(seq 1 78))/$(printf '名%.0s' $(seq 1 80))"
    done ;;
  hard-links)  # files of several names: an image holds each one's data once
    for i in $(seq 1 24); do
      head -c $((150000 + i * 1000)) /dev/zero > "$t/data$i"
      for j in 1 2 3; do ln "$t/data$i" "$t/name$i-$j"; done
    done ;;
  long-paths)  # tar: paths around the header's 100-byte name and 155-byte prefix, and beyond
    local d=$t
    for i in $(seq 1 14); do
      d=$d/$(printf "d%02d-%012d" "$i" 0)
      mkdir "$d"
      for j in $(seq 1 25); do printf p > "$d/$(printf "file-%0$((j * 4))d" 0)"; done
    done ;;
  not-utf8-names)  # tar: names stored as their bytes in an extended header
    for i in $(seq 1 300); do printf n > "$t/latin1-$(printf '\xe9')-$i"; done
    mkdir "$t/dossier-$(printf '\xe9')t$(printf '\xe9')"
    for i in $(seq 1 50); do : > "$t/dossier-$(printf '\xe9')t$(printf '\xe9')/f$i"; done ;;
  odd-link-targets)  # tar: targets over 100 bytes, and short ones that are not ASCII
    for i in $(seq 1 300); do ln -s "$(printf "%0$((60 + i))d" "$i")" "$t/long$i"; done
    for i in $(seq 1 300); do ln -s "ziel-$i-äöü" "$t/umlaut$i"; done
    ln -s "$(printf "%049d/" $(seq 1 22))" "$t/far" ;;
  empty-folders)  # tar: folders kept whole are entries of their own, even when empty
    for i in $(seq 1 400); do mkdir -p "$t/e$i/$(printf 'sub%03d' "$i")"; done ;;
  esac
}

# case, --fs, medium size in MB, largest excess of the prediction over the image (percent),
# and the command (split; dirs: split keeping folders whole; rvx: every top-level entry an item)
rows=(
  "many-folders iso 1 5"
  "nested-folders iso 1 7"
  "long-names iso 1 3"
  "non-ascii-names iso 1 5"
  "block-multiples iso 2 2"
  "full-folder iso 1 4"
  "case-twin-folders iso 1 6"
  "long-folder-names iso 1 6"
  "long-link-targets iso 1 25"
  "long-folder-names iso 1 6 dirs"
  "case-twin-folders iso 1 6 dirs"
  "many-folders iso-udf 2 5"
  "block-multiples iso-udf 3 2"
  "many-folders iso 1 6 rvx"
  "block-multiples iso 2 2 rvx"
  "many-folders iso 1 6 dirs"
  "nested-folders iso 1 7 dirs"
  "spilling-names iso 1 9"
  "hard-links iso 2 5"
  "hard-links iso-udf 2 5"
  "spilling-names iso-udf 2 7"
  "block-multiples tar 2 1"
  "long-paths tar 1 1"
  "long-paths tar 1 1 dirs"
  "non-ascii-names tar 1 1"
  "not-utf8-names tar 1 1"
  "not-utf8-names tar 1 1 dirs"
  "odd-link-targets tar 1 1"
  "long-link-targets tar 1 1"
  "empty-folders tar 1 1 dirs"
  "nested-folders tar 1 1"
  "many-folders tar 1 1 rvx"
)
failed=0
for row in "${rows[@]}"; do
  read -r name fs size tolerance command <<<"$row"
  command=${command:-split}
  [ -d "$work/$name" ] || make_tree "$name"
  if [ "$fs" = iso-udf ] && ! command -v genisoimage >/dev/null; then
    echo "== $name ($fs): skipped, genisoimage is not installed"; continue
  fi
  out=$work/media-$name-$fs-$command
  echo "== $name ($fs, $size MB media, $command)"
  if [ "$command" = rvx ]; then
    "$qvsplit" rvx --quiet --size "$size" --fs "$fs" --out "$out" "$work/$name"/* >/dev/null
  elif [ "$command" = dirs ]; then
    "$qvsplit" split --quiet --no-catalog --method dirs --size "$size" --fs "$fs" --out "$out" "$work/$name" >/dev/null
  else
    "$qvsplit" split --quiet --no-catalog --size "$size" --fs "$fs" --out "$out" "$work/$name" >/dev/null
  fi
  if ! python3 "$checker" --media "$out" --fs "$fs" --qvsplit "$qvsplit" --tolerance "$tolerance"; then
    failed=1
  fi
done
exit $failed
