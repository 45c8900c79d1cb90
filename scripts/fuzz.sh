#!/usr/bin/env bash
# Builds every libFuzzer target with Clang and runs each over its seed corpus for
# ${QVSPLIT_FUZZ_SECONDS:-60} seconds; exits non-zero when any target finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QVSPLIT_FUZZ_SECONDS:-60}
jobs=${QVSPLIT_JOBS:-2}
dir=build-fuzz

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQVSPLIT_FUZZ=ON -DQVSPLIT_BUILD_TESTS=OFF -DQVSPLIT_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs" --target qvsplit_fuzzers

failed=0
for list in "$dir"/fuzzers/*.txt; do
  [ -e "$list" ] || continue
  { read -r binary; read -r seeds; read -r dict; } <"$list"
  name=$(basename "$binary")
  # New inputs go to a work corpus in the build folder; the seeds in the tree stay as they are.
  work="$dir/corpus/$name"
  mkdir -p "$work" "$dir/artifacts"
  args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$dir/artifacts/$name-")
  [ -f "$dict" ] && args+=(-dict="$dict")
  [ -d "$seeds" ] || seeds=
  echo "== $name for ${seconds}s =="
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$binary" "${args[@]}" "$work" $seeds; then
    echo "fuzz target $name FAILED; reproducer in $dir/artifacts/" >&2
    failed=1
  fi
done
exit $failed
