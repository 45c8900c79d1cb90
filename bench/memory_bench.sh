#!/usr/bin/env bash
# Counts the heap of a whole split per file (bench/split_memory_bench.cpp) on the benchmark
# tree: the Linux build, and the 64-bit Windows build under Wine when scripts/build-windows.sh
# has built its dependencies (build-win/x86_64/prefix). Prints the program's own lines.
#
# Usage: bench/memory_bench.sh [--files N] [--work DIR]
# (defaults: the 200,000-file tree of compare.sh, made by it when missing, in
# /tmp/qvsplit-bench or $QVSPLIT_BENCH_DIR; the tree's path must be ASCII)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${QVSPLIT_BENCH_DIR:-/tmp/qvsplit-bench}
FILES=200000

while [ $# -gt 0 ]; do
  case "$1" in
    --files) FILES=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "memory_bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

QVSPLIT_BENCH_DIR=$WORK "$REPO/bench/compare.sh" --trees-only --files "$FILES"
TREE=$WORK/tree-$FILES
OUT=$WORK/memory-out
win() { printf '%s' "${1//\//\\}"; }
unset QVSPLIT_DRIVE_C QVSPLIT_LOG QVSPLIT_LOG_LEVEL

BUILD=$REPO/build-bench
echo "== Linux build in $BUILD" >&2
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVSPLIT_BUILD_TESTS=OFF \
  -DQVSPLIT_BUILD_BENCH=ON > /dev/null
cmake --build "$BUILD" -j"$(nproc)" --target split_memory_bench > /dev/null
rm -rf "$OUT"; mkdir -p "$OUT"
"$BUILD/bench/split_memory_bench" "C:$(win "$TREE")" "C:$(win "$OUT")" "$FILES"

PREFIX=$REPO/build-win/x86_64/prefix
if [ -d "$PREFIX" ]; then
  WBUILD=$REPO/build-win/x86_64/bench
  echo "== Windows x86_64 build in $WBUILD, run under Wine" >&2
  cmake -S "$REPO" -B "$WBUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/toolchains/mingw-x86_64.cmake" \
    -DQVSPLIT_WIN_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX" -DQVSPLIT_BUILD_TESTS=OFF \
    -DQVSPLIT_BUILD_BENCH=ON > /dev/null
  cmake --build "$WBUILD" -j"$(nproc)" --target split_memory_bench > /dev/null
  rm -rf "$OUT"; mkdir -p "$OUT"
  "$REPO/scripts/wine-run.sh" "$WBUILD/bench/split_memory_bench.exe" "Z:$(win "$TREE")" \
    "Z:$(win "$OUT")" "$FILES"
else
  echo "== no Windows build: run scripts/build-windows.sh first for the Windows figure" >&2
fi
