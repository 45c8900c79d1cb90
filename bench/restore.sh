#!/usr/bin/env bash
# Times the way back from the discs, and what the checksums cost on the way there:
#
#  1. pack --format iso of a plan of a real tree (default /usr/share, --size cd), by this
#     program and by an earlier build given with --before (media without checksums);
#  2. restore of all the images against `osirrox -extract` of the same images (xorriso);
#  3. check of all the images against `sha256sum` of the files osirrox extracted.
#
# Each pair runs in turn, REPS times (default 3); the table gives the medians (wall seconds)
# and the ratio. The page cache is warm for both sides alike: every pair reads the same bytes.
# Usage: bench/restore.sh [--before BIN] [--tree DIR] [--size SIZE] [--reps N] [--work DIR]
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
TREE=/usr/share
SIZE=cd
REPS=3
BEFORE=
WORK=/tmp/qvsplit-restore-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --before) BEFORE=$2; shift 2 ;;
    --tree) TREE=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --reps) REPS=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) echo "usage: $0 [--before BIN] [--tree DIR] [--size SIZE] [--reps N] [--work DIR]" >&2; exit 2 ;;
  esac
done

"$REPO/scripts/setup.sh" xorriso >/dev/null
BUILD=$REPO/build-bench
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target qvsplit >/dev/null
QV=$BUILD/qvsplit

rm -rf "$WORK"
mkdir -p "$WORK"
"$QV" split --quiet --size "$SIZE" --out "$WORK/plan" "$TREE" >/dev/null 2>&1 || {
  # A tree may hold files the plan leaves out; the plan is made all the same.
  [ -f "$WORK/plan/Media1.xml" ] || { echo "the split made no plan" >&2; exit 1; }
}

# Seconds of one run of a command.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

pack_now() { rm -rf "$WORK/images"; "$QV" pack --quiet --format iso --to "$WORK/images" "$WORK/plan"; }
pack_before() { rm -rf "$WORK/images-before"; "$BEFORE" pack --quiet --format iso --to "$WORK/images-before" "$WORK/plan"; }
restore_now() { rm -rf "$WORK/restored"; "$QV" restore --quiet --to "$WORK/restored" "$WORK"/images/*.iso; }
extract() {
  rm -rf "$WORK/extracted"
  mkdir -p "$WORK/extracted"
  for image in "$WORK"/images/*.iso; do
    xorriso -osirrox on -indev "$image" -extract / "$WORK/extracted" >/dev/null 2>&1
  done
}
check_now() { "$QV" check --quiet "$WORK"/images/*.iso; }
sums() { (cd "$WORK/extracted" && find . -type f -print0 | xargs -0 sha256sum >/dev/null); }

# Medians of two commands run in turn; prints "a b ratio".
pair() {
  local a=() b=()
  for _ in $(seq "$REPS"); do
    a+=("$(seconds "$1")")
    b+=("$(seconds "$2")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  echo "$ma $mb $(echo "scale=2; $ma / $mb" | bc)"
}

files=$(find "$TREE" -type f 2>/dev/null | wc -l)
media=$(ls "$WORK/plan"/Media*.xml | wc -l)
echo "| \`$TREE\`, $files files, $media media of \`$SIZE\` | this program, s | the other, s | ratio |"
echo "|---|---|---|---|"
if [ -n "$BEFORE" ]; then
  read -r a b r < <(pair pack_now pack_before)
  echo "| pack --format iso, with checksums / before them | $a | $b | $r |"
else
  pack_now
fi
extract
read -r a b r < <(pair restore_now extract)
echo "| restore / osirrox -extract | $a | $b | $r |"
read -r a b r < <(pair check_now sums)
echo "| check / sha256sum of the extracted files | $a | $b | $r |"
# The medium's own files (catalogue, checksum list, notes) are extracted by osirrox, not restored.
if diff -r --no-dereference -x 'QVSPLIT-*' "$WORK/restored" "$WORK/extracted" >/dev/null 2>&1; then
  echo
  echo "The restored tree and osirrox's are equal (diff -r, the media's own QVSPLIT-* files aside)."
else
  echo
  echo "The restored tree and osirrox's DIFFER (diff -r)."
fi
