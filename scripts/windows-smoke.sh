#!/usr/bin/env bash
# Runs the Windows deliverable as a user gets it: qvsplit.exe and QvSplit.dll copied alone
# into a fresh folder, nothing of the MinGW tree on the search path, under Wine. Checks the
# program's help, a split of a small tree followed by verify, and a caller that loads the
# DLL at run time, and a caller of the C interface written in C.
# Usage: scripts/windows-smoke.sh BUILD_DIR LOADER_EXE CAPI_TEST_EXE
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
loader=$2
capi=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/data/sub"
cp "$build/qvsplit.exe" "$build/QvSplit.dll" "$loader" "$capi" "$work/app/"
head -c 300000 /dev/urandom > "$work/data/a.bin"
head -c 500000 /dev/urandom > "$work/data/sub/b.bin"
head -c 700000 /dev/urandom > "$work/data/sub/c.bin"
printf 'hello\n' > "$work/data/Été.txt"

win() { printf 'Z:%s' "${1//\//\\}"; }  # Wine's drive Z: is "/"
run() { (cd "$work/app" && env -u WINEPATH "$top/scripts/wine-run.sh" "$@"); }
fail() { echo "windows-smoke: $*"; exit 1; }

help=$(run ./qvsplit.exe --help) || fail "qvsplit.exe --help exited $?"
grep -q 'Usage: qvsplit' <<<"$help" || fail "qvsplit.exe --help printed no usage: $help"

run ./qvsplit.exe split --quiet --size 1 --out "$(win "$work/media")" "$(win "$work/data")" \
  > "$work/split.txt" || fail "split exited $?: $(cat "$work/split.txt")"
[ -f "$work/media/Media1.xml" ] && [ -f "$work/media/Media2.xml" ] \
  || fail "split wrote no two media files: $(ls "$work/media")"
grep -q 'b.bin' "$work/media/"Media*.xml || fail "b.bin is on no medium"
grep -q 'Été.txt' "$work/media/"Media*.xml || fail "Été.txt is on no medium"
run ./qvsplit.exe verify "$(win "$work/media")" > "$work/verify.txt" \
  || fail "verify exited $?: $(cat "$work/verify.txt")"
grep -q 'the media set matches the disk' "$work/verify.txt" || fail "verify: $(cat "$work/verify.txt")"

cat > "$work/rules.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<RulesFile>
  <Rule RuleID="1" Action="INCLUDE" AllTogether="FALSE" Location="Any">
    <SourcePath>$(win "$work/data")</SourcePath><TargetPath>\\data</TargetPath>
  </Rule>
</RulesFile>
XML
mkdir -p "$work/loaded"
out=$(run ./loader.exe "$(win "$work/rules.xml")" "$(win "$work/loaded")\\" | tr -d '\r') \
  || fail "loader exited $?: $out"
[ "$out" = "1 media" ] || fail "loader printed: $out"
grep -q 'c.bin' "$work/loaded/Media1.xml" || fail "the loader's medium lacks c.bin"
out=$(run ./capi_test.exe "$(win "$work")" 2>&1 | tr -d '\r') || fail "the C caller exited $?: $out"
grep -q 'every check passed' <<<"$out" || fail "the C caller: $out"
echo "qvsplit.exe (help, split onto $(ls "$work/media" | wc -l) media, verify), a LoadLibrary caller and a C caller ran from a clean folder"
