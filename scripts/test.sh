#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: a GCC build with warnings as
# errors, a Clang build with AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz
# targets, the caller example, and the Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=${QVSPLIT_JOBS:-2}

echo "== native build (GCC, -Werror) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DQVSPLIT_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build (Clang, ASan+UBSan, -Werror) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DQVSPLIT_WERROR=ON -DQVSPLIT_SANITIZE=ON -DQVSPLIT_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing =="
  scripts/fuzz.sh
fi

if [ -x scripts/check-example.sh ]; then
  echo "== caller example =="
  scripts/check-example.sh
fi

if [ "${QVSPLIT_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== Windows build (MinGW-w64, i686 and x86_64) and the x86_64 tests under Wine =="
  scripts/build-windows.sh
fi

echo "all tests passed"
