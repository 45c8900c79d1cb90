#!/usr/bin/env bash
# Measures qvsplit side by side with find, fpart and dirsplit on generated trees, and the
# big-file cut and recovery side by side with cp, split and cat. Prints a Markdown table.
#
# Usage: bench/compare.sh [--reps N] [--files "20000 200000"] [--big-mb MB] [--big-reps N]
#                         [--no-bigfile] [--work DIR] [--trees-only] [--tree ROOT]...
# (defaults: 5 repetitions, 20,000 and 200,000 files, a 2048 MiB file cut 3 times)
# --tree measures a tree made elsewhere instead (find, fpart, and qvsplit at 700 MB and at cd
# with and without room for the catalogue, both methods), one table per tree; no big file.
# The trees (sparse files, no disk cost) are generated once into the work folder
# (default /tmp/qvsplit-bench, or $QVSPLIT_BENCH_DIR) and reused by later runs; --trees-only
# generates them and stops (other benchmarks use the same trees).
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-bench}
REPS=5
FILE_COUNTS="20000 200000"
BIG_MB=2048
BIG_REPS=3
BIGFILE=1
SPLIT_MB=700
TREES_ONLY=0
GIVEN_TREES=()

while [ $# -gt 0 ]; do
  case "$1" in
    --reps) REPS=$2; shift 2 ;;
    --files) FILE_COUNTS=$2; shift 2 ;;
    --big-mb) BIG_MB=$2; shift 2 ;;
    --big-reps) BIG_REPS=$2; shift 2 ;;
    --no-bigfile) BIGFILE=0; shift ;;
    --work) WORK=$2; shift 2 ;;
    --trees-only) TREES_ONLY=1; shift ;;
    --tree) GIVEN_TREES+=("$2"); BIGFILE=0; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "compare.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

if [ "$BIGFILE" = 1 ] && [ "$BIG_MB" -le "$SPLIT_MB" ]; then
  echo "compare.sh: --big-mb must exceed the $SPLIT_MB MiB medium, or nothing is cut" >&2
  exit 2
fi

SPLIT_BYTES=$((SPLIT_MB * 1048576))

# Generates a tree of N sparse files under DIR, the same on every run: a fixed pseudo-random
# sequence picks sizes (most small, a few large, none larger than a medium) and names with
# mixed case, spaces and non-ASCII letters, about 50 files per folder, three levels deep.
generate_tree() {
  local n=$1 dir=$2
  if [ -f "$dir.complete" ] && [ "$(cat "$dir.complete")" = "$n" ]; then return; fi
  echo "== generating $n files in $dir" >&2
  rm -rf "$dir"
  mkdir -p "$dir"
  perl -CS -Mutf8 -e '
    use strict; use warnings; use integer;
    my ($n, $root) = @ARGV;
    my $x = 20240601;
    sub rnd { $x = ($x * 1103515245 + 12345) % 2147483648; return $x >> 4; }
    my @stem = ("Report", "photo", "Été", "Übersicht", "data FILE", "Ångström", "notes",
                "Café menu", "ΑΒΓ δέλτα", "Résumé", "Mix Ed", "zürich");
    my @ext = (".txt", ".JPG", ".pdf", ".Docx", ".bin", ".flac", "");
    my $made = 0; my $folder = 0;
    while ($made < $n) {
      my $d = sprintf("%s/Top %02d/Sub-%s %03d/leaf%d", $root, $folder % 40,
                      $stem[$folder % @stem], $folder / 40 % 1000, $folder % 3);
      system("mkdir", "-p", $d) == 0 or die "mkdir $d";
      for (my $i = 0; $i < 50 && $made < $n; ++$i, ++$made) {
        my $r = rnd() % 1000;
        my $size = $r < 700 ? rnd() % 16384
                 : $r < 950 ? 16384 + rnd() % 1032192
                 : $r < 998 ? 1048576 + (rnd() % 15) * 1048576 + rnd() % 1048576
                 : 16777216 + (rnd() % 184) * 1048576;
        my $name = sprintf("%s/%s %05d%s", $d, $stem[rnd() % @stem], $made, $ext[rnd() % @ext]);
        open(my $fh, ">", $name) or die "$name: $!";
        truncate($fh, $size) or die "truncate $name";
        close($fh);
      }
      ++$folder;
    }' "$n" "$dir"
  echo "$n" > "$dir.complete"
}

if [ "$TREES_ONLY" = 1 ]; then
  mkdir -p "$WORK"
  for n in $FILE_COUNTS; do generate_tree "$n" "$WORK/tree-$n"; done
  exit 0
fi

"$REPO/scripts/setup.sh" fpart genisoimage time

BUILD=$REPO/build-bench
echo "== building the Release program in $BUILD" >&2
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=ON > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target qvsplit bigfile_bench > /dev/null
QVSPLIT=$BUILD/qvsplit
mkdir -p "$WORK"
# The program maps drive C to "/"; an inherited mapping would hide the trees from it.
unset QVSPLIT_DRIVE_C QVSPLIT_LOG QVSPLIT_LOG_LEVEL

# Runs a command REPS times under /usr/bin/time -v; sets MED_WALL (seconds, median) and
# MED_RSS (KiB, median of the peak resident sizes). A failed run is reported and stops the script,
# so no figure of a failed job reaches the table.
measure() {
  local walls=() rsses=() t i
  for ((i = 0; i < REPS; ++i)); do
    t=$(mktemp)
    if ! /usr/bin/time -v -o "$t" "$@" > /dev/null 2>&1; then
      echo "compare.sh: failed: $*" >&2
      exit 1
    fi
    walls+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($2, p, ":"); s = 0; for (k = 1; k <= n; ++k) s = s * 60 + p[k]; print s }' "$t")")
    rsses+=("$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$t")")
    rm -f "$t"
  done
  MED_WALL=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  MED_RSS=$(printf '%s\n' "${rsses[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
}

row() {  # tool files wall rss media bound floor
  local ratio per_file
  ratio=$(awk -v w="$3" -v f="$7" 'BEGIN { printf "%.2f", (f > 0 ? w / f : 0) }')
  per_file=$(awk -v r="$4" -v n="$2" 'BEGIN { printf "%.0f", r * 1024 / n }')
  printf '| %s | %s | %.2f | %s | %s | %s | %s | %s |\n' "$1" "$2" "$3" "$ratio" "$4" \
    "$per_file" "$5" "$6"
}

# The rows of find (the floor, kept in floor) and fpart for a tree of n files; fpart writes into out.
floor_and_fpart() {  # tree n out bound
  local media
  measure find "$1" -type f -printf '%s\n'
  floor=$MED_WALL
  row "find -printf (floor)" "$2" "$MED_WALL" "$MED_RSS" "-" "$4" "$floor"
  measure fpart -s "$SPLIT_BYTES" -o "$3/fpart" "$1"
  media=$(find "$3" -maxdepth 1 -name 'fpart.*' | wc -l)
  row "fpart -s 700 MiB" "$2" "$MED_WALL" "$MED_RSS" "$media" "$4" "$floor"
}

tree_table() {
  echo "| tool | files | median wall s | x find | peak RSS KiB | bytes/file | media | lower bound |"
  echo "|---|---|---|---|---|---|---|---|"
  local n tree total bound out floor media
  for n in $FILE_COUNTS; do
    tree=$WORK/tree-$n
    generate_tree "$n" "$tree"
    out=$WORK/out-$n
    rm -rf "$out"; mkdir -p "$out"
    find "$tree" -type f -printf '%s\n' > /dev/null  # warm the cache once
    total=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s }')
    bound=$(( (total + SPLIT_BYTES - 1) / SPLIT_BYTES ))
    echo "== $n files, $total bytes, lower bound $bound media" >&2

    floor_and_fpart "$tree" "$n" "$out" "$bound"

    measure dirsplit -n -s "${SPLIT_MB}M" "$tree"
    media=$(cd "$out" && dirsplit -n -s "${SPLIT_MB}M" "$tree" 2>&1 | sed -n 's/^Calculated, using \([0-9]*\) volumes.*/\1/p')
    row "dirsplit -n -s 700M" "$n" "$MED_WALL" "$MED_RSS" "$media" "$bound" "$floor"

    local method
    for method in files dirs; do
      measure "$QVSPLIT" split --quiet --method "$method" --size "$SPLIT_MB" --out "$out/q-$method" "$tree"
      media=$(find "$out/q-$method" -maxdepth 1 -name 'Media*.xml' | wc -l)
      row "qvsplit split --method $method" "$n" "$MED_WALL" "$MED_RSS" "$media" "$bound" "$floor"
    done
    # The same with glibc putting the heap on huge pages, which a user may ask for.
    measure env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$QVSPLIT" split --quiet --method files \
      --size "$SPLIT_MB" --out "$out/q-huge" "$tree"
    media=$(find "$out/q-huge" -maxdepth 1 -name 'Media*.xml' | wc -l)
    row "qvsplit split --method files, hugetlb=1" "$n" "$MED_WALL" "$MED_RSS" "$media" "$bound" "$floor"
  done
}

# One table for a tree made elsewhere: the floor, fpart, and each qvsplit plan a user runs on it.
given_tree_table() {
  local tree=$1 n out floor media
  n=$(find "$tree" -type f | wc -l)
  out=$WORK/out-given
  rm -rf "$out"; mkdir -p "$out"
  find "$tree" -type f -printf '%s\n' > /dev/null  # warm the cache once
  echo "$tree: $n files"
  echo
  echo "| tool | files | median wall s | x find | peak RSS KiB | bytes/file | media | lower bound |"
  echo "|---|---|---|---|---|---|---|---|"
  floor_and_fpart "$tree" "$n" "$out" "-"
  local method size catalog label
  for method in files dirs; do
    for size in "$SPLIT_MB" cd; do
      for catalog in "" --no-catalog; do
        [ "$size" = "$SPLIT_MB" ] && [ -n "$catalog" ] && continue
        label="qvsplit split --method $method --size $size${catalog:+ $catalog}"
        rm -rf "$out/q"
        measure "$QVSPLIT" split --quiet --method "$method" --size "$size" $catalog --out "$out/q" "$tree"
        media=$(find "$out/q" -maxdepth 1 -name 'Media*.xml' | wc -l)
        row "$label" "$n" "$MED_WALL" "$MED_RSS" "$media" "-" "$floor"
      done
    done
  done
  rm -rf "$out"
}

big_table() {
  local dir=$WORK/big src list
  mkdir -p "$dir"
  src=$dir/src.bin
  if [ ! -f "$src" ] || [ "$(stat -c %s "$src")" != $((BIG_MB * 1048576)) ]; then
    echo "== writing $BIG_MB MiB of random data" >&2
    head -c "${BIG_MB}M" /dev/urandom > "$src"
    sync "$src"
  fi
  list=$dir/parts.ini
  rm -rf "$dir/cut" "$dir/out" "$dir"/sp.* "$dir/copy.bin" "$dir/joined.bin" "$list"
  mkdir -p "$dir/cut"
  local reps_saved=$REPS
  REPS=$BIG_REPS
  echo "| job | median wall s | MiB/s | x (cp + sync) |"
  echo "|---|---|---|---|"
  measure sh -c "cp '$src' '$dir/copy.bin' && sync '$dir/copy.bin' && rm -f '$dir/copy.bin'"
  local cp=$MED_WALL
  big_row "cp + sync (floor)" "$MED_WALL" "$cp"
  measure sh -c "cd '$dir' && rm -f sp.* && split -b 680M src.bin sp. && sync sp.*"
  big_row "split -b 680M + sync" "$MED_WALL" "$cp"
  measure sh -c "cd '$dir' && cat sp.* > joined.bin && sync joined.bin && rm -f joined.bin"
  big_row "cat parts + sync" "$MED_WALL" "$cp"
  rm -f "$dir"/sp.*
  # Each cut deletes the file it cuts and each recovery rebuilds it, so the pair repeats.
  cp "$src" "$dir/cut/work.bin"
  local cuts=() recs=() i
  for ((i = 0; i < BIG_REPS; ++i)); do
    REPS=1
    rm -f "$list"
    measure sh -c "'$QVSPLIT' split --quiet --yes --size 700 --cut-big '$list' --out '$dir/out' '$dir/cut' && sync '$dir/cut'/work.bin.*"
    cuts+=("$MED_WALL")
    measure sh -c "'$QVSPLIT' recover --quiet --list '$list' && sync '$dir/cut/work.bin'"
    recs+=("$MED_WALL")
  done
  REPS=$reps_saved
  big_row "qvsplit split --cut-big + sync" "$(printf '%s\n' "${cuts[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')" "$cp"
  big_row "qvsplit recover + sync" "$(printf '%s\n' "${recs[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')" "$cp"
  if cmp -s "$src" "$dir/cut/work.bin"; then
    echo; echo "Rebuilt file identical to the original: yes"
  else
    echo; echo "Rebuilt file identical to the original: NO"
  fi
  rm -rf "$dir/cut" "$dir/out" "$list"
  echo
  echo "bigfile_bench (the library's cutter called directly, $BIG_MB MiB, 1 round):"
  echo '```'
  "$BUILD/bench/bigfile_bench" "$dir" "$BIG_MB" 1
  echo '```'
}

big_row() {  # job wall floor
  awk -v j="$1" -v w="$2" -v f="$3" -v mb="$BIG_MB" \
    'BEGIN { printf "| %s | %.2f | %.0f | %.2f |\n", j, w, (w > 0 ? mb / w : 0), (w > 0 ? f / w : 0) }'
}

echo "Machine: $(nproc) processors, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -sr), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Work folder: $WORK ($(df -T "$WORK" | awk 'NR == 2 { print $2 }'))"
echo "Split size $SPLIT_MB MiB; $REPS repetitions per tree measurement, warm cache; medians."
echo
if [ ${#GIVEN_TREES[@]} -gt 0 ]; then
  for tree in "${GIVEN_TREES[@]}"; do given_tree_table "$tree"; echo; done
  exit 0
fi
tree_table
if [ "$BIGFILE" = 1 ]; then
  echo
  big_table
fi
