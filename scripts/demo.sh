#!/usr/bin/env bash
# Sets up what is missing, builds the library and the program, and runs `qvsplit demo`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${QVSPLIT_JOBS:-2}" --target qvsplit
exec build/qvsplit demo "$@"
