#!/usr/bin/env bash
# Installs the library from build/ into a private prefix, builds the README's caller example
# against it with find_package(QvSplit), and runs it on a small tree.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
prefix=$top/build/install-check
rm -rf "$prefix" build/example
cmake --install build --prefix "$prefix" >/dev/null
cmake -S examples/caller -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build/example >/dev/null

# The example reads C:\rules.xml and writes into C:\media\: map drive C to a scratch folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data/sub" "$work/media"
head -c 3000 /dev/zero > "$work/data/a.bin"
head -c 5000 /dev/zero > "$work/data/sub/b.bin"
cat > "$work/rules.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<RulesFile>
  <Rule RuleID="1" Action="INCLUDE" AllTogether="FALSE" Location="Any">
    <SourcePath>C:\data</SourcePath><TargetPath>\data</TargetPath>
  </Rule>
</RulesFile>
XML
out=$(QVSPLIT_DRIVE_C="$work" LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64" build/example/caller)
echo "caller example: $out"
[ "$out" = "1 media" ] && [ -f "$work/media/Media1.xml" ] && grep -q 'b.bin' "$work/media/Media1.xml"

# The C example, built with nothing but what pkg-config says of the installed library.
pcdir=$(dirname "$(find "$prefix" -name qvsplit.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs qvsplit)
cc -std=c99 -pedantic -Wall -Werror examples/c-caller/main.c $flags -o build/example/c-caller
mkdir -p "$work/c-media"
out=$(LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64" build/example/c-caller "$work/data" "$work/c-media")
echo "C example: $out"
[ "$out" = "Media1.xml: 2 files, 8000 bytes" ] && [ -f "$work/c-media/Media1.xml" ]
