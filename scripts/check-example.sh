#!/usr/bin/env bash
# Installs the library from build/ into a private prefix, builds the C++ caller example of
# docs/library.md against it with find_package(QvSplit), and runs it on a small tree; then the C,
# Python and C# examples of docs/c-interface.md, as printed, on small folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh mono-mcs mono-runtime   # Mono's C# compiler and runtime, for the C# example
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
# (set -e does not stop at a failed test inside an && list: each check exits itself.)
[ "$out" = "1 media" ] && [ -f "$work/media/Media1.xml" ] && grep -q 'b.bin' "$work/media/Media1.xml" ||
  { echo "check-example: the caller example made no media"; exit 1; }

# The C example of docs/c-interface.md, as printed, is examples/c-caller/main.c.
doc=docs/c-interface.md
doc_block() {  # the fenced block of language $1 that follows the line holding $2
  awk -v lang="$1" -v after="$2" 'index($0, after) {seen = 1} seen && $0 == "```" lang {on = 1; next}
                                  on && $0 == "```" {exit} on {print}' "$doc"
}
doc_block c 'pkg-config --cflags --libs qvsplit)' > build/example/doc.c
[ -s build/example/doc.c ] || { echo "check-example: no C example in $doc"; exit 1; }
if ! diff build/example/doc.c examples/c-caller/main.c >/dev/null; then
  echo "check-example: the C example of $doc differs from examples/c-caller/main.c"
  exit 1
fi

# The C example, built with nothing but what pkg-config says of the installed library. It prints
# each medium and each entry through qvs_get_entry.
pcdir=$(dirname "$(find "$prefix" -name qvsplit.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs qvsplit)
cc -std=c99 -pedantic -Wall -Werror examples/c-caller/main.c $flags -o build/example/c-caller
mkdir -p "$work/c-media"
out=$(LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64" build/example/c-caller "$work/data" "$work/c-media")
echo "C example: $out"
# Each entry is restored under the folder of the name the rule gave, as the media hold it.
want=$(printf 'Media1.xml: 2 files, 8000 bytes\n  %s -> %s\n  %s -> %s' "$work/data/a.bin" '\data' \
       "$work/data/sub/b.bin" '\data\sub')
[ "$out" = "$want" ] && [ -f "$work/c-media/Media1.xml" ] ||
  { echo "check-example: the C example printed other media or entries"; exit 1; }

# The Python example of docs/c-interface.md, as printed, on the same folder.
doc_block python 'From Python, with nothing to build' > build/example/doc.py
[ -s build/example/doc.py ] || { echo "check-example: no Python example in $doc"; exit 1; }
mkdir -p "$work/py-media"
lib=$(find "$prefix" -name 'libQvSplit.so' | head -n 1)
out=$(python3 build/example/doc.py "$lib" "$work/data" "$work/py-media")
echo "Python example: $out"
want=$(printf '1 media\n  %s -> %s\n  %s -> %s' "$work/data/a.bin" '\data' "$work/data/sub/b.bin" '\data\sub')
[ "$out" = "$want" ] || { echo "check-example: the Python example printed other media or entries"; exit 1; }

# The C# example of docs/c-interface.md, as printed, compiled by Mono's mcs and run by mono. Mono loads the
# library it names "QvSplit" as libQvSplit.so from the loader's path. The folder's name and a
# file's are not ASCII, so paths go in as UTF-8 and come back as UTF-8 (mono's console is set to
# UTF-8, else it prints '?' for them).
doc_block csharp 'From C#, with P/Invoke' > build/example/doc.cs
[ -s build/example/doc.cs ] || { echo "check-example: no C# example in $doc"; exit 1; }
mcs -warnaserror+ -out:build/example/doc-cs.exe build/example/doc.cs
mkdir -p "$work/dätä/sub" "$work/cs-media"
head -c 3000 /dev/zero > "$work/dätä/a.bin"
head -c 5000 /dev/zero > "$work/dätä/sub/é.bin"
# The folders are named relative to the working folder: were the strings marshalled as UTF-16,
# the library would see "d" and "c", which do not exist, rather than "/", the whole disk.
out=$(cd "$work" && LC_ALL=C.UTF-8 LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64" \
      timeout 120 mono "$top/build/example/doc-cs.exe" dätä cs-media)
echo "C# example: $out"
want=$(printf '1 media\n  %s -> %s\n  %s -> %s' "$work/dätä/a.bin" '\dätä' "$work/dätä/sub/é.bin" '\dätä\sub')
[ "$out" = "$want" ] && [ -f "$work/cs-media/Media1.xml" ] ||
  { echo "check-example: the C# example printed other media or entries"; exit 1; }
