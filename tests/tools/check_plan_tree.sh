#!/usr/bin/env bash
# Builds a tree of every awkward case a real Linux tree holds, splits it with both methods and
# checks each plan with scripts/check-plan.py: every file once or listed as left out, figures
# right, no medium over its size, well-formed XML, verify clean.
# Usage: tests/tools/check_plan_tree.sh PATH/TO/qvsplit
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qvsplit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
checker=$here/../../scripts/check-plan.py

work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
t=$work/tree
mkdir -p "$t/docs" "$t/Photos" "$t/photos" "$t/names" "$t/links/dir" "$t/sizes" "$t/locked/inner"

# Case twins, files and folders.
echo lower > "$t/docs/readme.txt"
echo UPPER > "$t/docs/README.TXT"
echo one > "$t/Photos/a.jpg"
echo two > "$t/photos/a.jpg"
# Every character Windows forbids, a control character, a byte that is not UTF-8.
for c in '\' '*' '?' ':' '"' '<' '>' '|'; do echo "$c" > "$t/names/a${c}b"; done
echo ctl > "$t/names/ctl"$'\x01'"x"
echo bad > "$t/names/bad"$'\xff'
echo newline > "$t/names/two"$'\n'"lines"
# Links: to a file, to a folder, to an ancestor (a loop), to nothing; a pipe.
echo target > "$t/links/dir/target.txt"
ln -s dir/target.txt "$t/links/to-file"
ln -s dir "$t/links/to-dir"
ln -s .. "$t/links/dir/loop"
ln -s nowhere "$t/links/dangling"
mkfifo "$t/links/pipe"
# Files one byte under, at and over a medium of 1 MB.
truncate -s $((1048576 - 1)) "$t/sizes/under.bin"
truncate -s 1048576 "$t/sizes/at.bin"
truncate -s $((1048576 + 1)) "$t/sizes/over.bin"
# A folder that cannot be read.
echo secret > "$t/locked/inner/secret.txt"
chmod 000 "$t/locked"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  # Root reads every folder: the program runs as nobody, for whom "locked" stays closed.
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

status=0
for method in files dirs; do
  out=$work/out-$method
  mkdir -p "$out"
  chmod 777 "$out"
  echo "== --method $method =="
  if ! "${as_user[@]}" "$qvsplit" split --quiet --method "$method" --size 1 --out "$out" "$t" > "$work/summary.txt"; then
    cat "$work/summary.txt"
    echo "check_plan_tree: the split failed"
    status=1
    continue
  fi
  grep -q 'LEFT OUT' "$work/summary.txt" || { echo "check_plan_tree: nothing listed as left out"; status=1; }
  python3 "$checker" --qvsplit "$qvsplit" --media "$out" --size 1 "$t" || status=1
done
exit "$status"
