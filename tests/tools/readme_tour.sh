#!/usr/bin/env bash
# Runs the five-minute walk of the README exactly as printed (the fenced block after the line
# "<!-- tour: ... -->"), in a temporary home folder with a small Documents tree, from a folder
# where build/ leads to the program under test. Then checks what a user would notice, with tools
# of their own: the media files are well-formed XML, the report page is there, each ISO image
# lists every file, check passed, and the restored tree equals Documents file for file.
# Usage: tests/tools/readme_tour.sh PATH/TO/qvsplit
# Exits 77 (skipped) where xorriso or the program's ISO support is missing.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 PATH/TO/qvsplit" >&2; exit 2; }
readme=$(cd "$(dirname "$0")/../.." && pwd)/README.md
qvsplit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
fail() { echo "readme_tour: $*" >&2; exit 1; }

command -v xorriso >/dev/null || { echo "xorriso is not installed"; exit 77; }
command -v xmllint >/dev/null || { echo "xmllint is not installed"; exit 77; }

# The block: the first fence after the marker line, up to its closing fence.
block=$(awk '/^<!-- tour: / {seen = 1; next}
             seen && !on && /^```sh$/ {on = 1; next}
             seen && !on && NF {exit}
             on && /^```$/ {exit}
             on {print}' "$readme")
[ -n "$block" ] || fail "no \`\`\`sh block right after the tour marker in $readme"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"

# A build without libisofs (or libarchive, or libcrypto) says so; such a build cannot walk the
# tour, which makes, reads and checks ISO images.
mkdir -p "$work/probe/src" && printf x > "$work/probe/src/x"
"$qvsplit" split --quiet --size cd --out "$work/probe/plan" "$work/probe/src" >/dev/null
if ! { "$qvsplit" pack --quiet --format iso --to "$work/probe/iso" "$work/probe/plan" &&
       "$qvsplit" check --quiet "$work/probe/iso/Media1.iso"; } >"$work/probe/out" 2>&1; then
  grep -E 'cannot make ISO images|reads no ISO images|computes no SHA-256' "$work/probe/out" &&
    exit 77
  cat "$work/probe/out" >&2
  fail "pack or check failed on a one-file set"
fi

# Documents: a few dozen files of assorted sizes in a few folders, a name with a space, names
# that are not ASCII, an empty file, a link, and the file the tour looks for.
docs=$HOME/Documents
mkdir -p "$docs/letters" "$docs/photos/2025 summer" "$docs/Été"
for i in $(seq 1 12); do printf 'letter %d\n' "$i" > "$docs/letters/letter-$i.txt"; done
for i in $(seq 1 10); do head -c $((i * 37000 + 11)) /dev/urandom > "$docs/photos/2025 summer/IMG_$i.jpg"; done
for i in $(seq 1 8); do head -c $((i * 513)) /dev/urandom > "$docs/Été/note $i.md"; done
head -c 2048 /dev/urandom > "$docs/Été/exactly one sector.bin"
head -c 2500000 /dev/urandom > "$docs/photos/holiday video.mp4"
printf 'budget\n' > "$docs/budget 2026.ods"
printf 'ｎｏｔｅｓ\n' > "$docs/日本語のメモ.txt"
: > "$docs/empty.txt"
ln -s "letters/letter-1.txt" "$docs/first letter"
touch -d '2025-07-14 12:00:00' "$docs/photos/2025 summer/IMG_1.jpg"

mkdir -p "$work/work"
ln -s "$(dirname "$qvsplit")" "$work/work/build"
[ -x "$work/work/build/$(basename "$qvsplit")" ] || fail "build/ does not lead to the program"
[ "$(basename "$qvsplit")" = qvsplit ] || fail "the program must be named qvsplit, as the README calls it"

echo "== the tour, as printed =="
(cd "$work/work" && bash -euo pipefail -c "$block") || fail "the tour stopped: a command failed (exit $?)"

echo "== what it made =="
plan=$HOME/qv/plan iso=$HOME/qv/iso back=$HOME/qv/back
media=("$plan"/Media*.xml)
[ -f "${media[0]}" ] || fail "no media files in ~/qv/plan"
xmllint --noout "${media[@]}" || fail "a media file is not well-formed XML"
[ -s "$plan/qvsplit-report.html" ] || fail "no report page at ~/qv/plan/qvsplit-report.html"
grep -q '<html' "$plan/qvsplit-report.html" || fail "the report page is no HTML"

images=("$iso"/Media*.iso)
[ "${#images[@]}" -eq "${#media[@]}" ] && [ -f "${images[0]}" ] ||
  fail "${#media[@]} media files but ${#images[@]} images"
# Every regular file of Documents is in exactly one image, under Documents/.
(cd "$docs" && find . -type f | sed 's|^\./|/Documents/|' | sort) > "$work/want-files"
for image in "${images[@]}"; do
  xorriso -indev "$image" -find /Documents -type f 2>/dev/null | sed "s/^'//; s/'\$//"
done | sort > "$work/have-files"
diff "$work/want-files" "$work/have-files" >&2 || fail "the images do not hold the files of Documents"
for image in "${images[@]}"; do
  xorriso -indev "$image" -find / -maxdepth 1 -type f 2>/dev/null | grep -q "QVSPLIT-SHA256SUMS" ||
    fail "$(basename "$image") carries no checksum list"
done

# The restored tree equals Documents: every file's bytes, every link's target.
[ -d "$back/Documents" ] || fail "nothing restored under ~/qv/back/Documents"
tree_sums() {  # relative path and SHA-256 of every file, relative path and target of every link
  (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum &&
   find . -type l -printf '%p -> %l\n' | sort &&
   find . -type d -empty -printf '%p/\n' | sort)
}
tree_sums "$docs" > "$work/want-tree"
tree_sums "$back/Documents" > "$work/have-tree"
[ "$(wc -l < "$work/want-tree")" -gt 30 ] || fail "the sample tree is smaller than intended"
diff "$work/want-tree" "$work/have-tree" >&2 || fail "the restored tree differs from Documents"
[ "$(stat -c %Y "$back/Documents/photos/2025 summer/IMG_1.jpg")" = "$(date -d '2025-07-14 12:00:00' +%s)" ] ||
  fail "a restored file lost its write time"

# check, run again on its own: it passed within the tour (set -e), and must still pass.
"$qvsplit" check --quiet "${images[@]}" >/dev/null || fail "check fails on the images the tour made"
echo "readme_tour: the README's walk ran as printed and made what it says"
