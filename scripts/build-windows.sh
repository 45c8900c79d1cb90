#!/usr/bin/env bash
# Cross-compiles the library, the tests, the program and a run-time loading caller for Windows
# with MinGW-w64 (i686 and x86_64), with pugixml and GoogleTest built from Debian's sources;
# checks that the DLL and the programs import only DLLs that Windows itself provides; runs the
# x86_64 tests under Wine, then the program and the caller from a folder holding only what a
# user gets. Everything it builds stays below build-win/.
# Usage: scripts/build-windows.sh [--no-run]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
run_tests=1
[ "${1:-}" = "--no-run" ] && run_tests=0
jobs=${QVSPLIT_JOBS:-2}

scripts/setup.sh mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 \
  dpkg-dev googletest

out=$top/build-win
deps=$out/deps
mkdir -p "$deps"

fetch_pugixml_source() {
  if ls -d "$deps"/pugixml-*/ >/dev/null 2>&1; then return; fi
  local list=/etc/apt/sources.list.d/qvsplit-deb-src.sources
  if ! apt-get source --print-uris pugixml >/dev/null 2>&1; then
    echo "build-windows: enabling Debian source lists for pugixml"
    local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      | $sudo tee "$list" >/dev/null
    $sudo apt-get update -qq
  fi
  (cd "$deps" && apt-get source -qq pugixml >/dev/null)
}

build_dep() {  # build_dep NAME SOURCE_DIR ARCH PREFIX [cmake args...]
  local name=$1 src=$2 arch=$3 prefix=$4; shift 4
  local stamp=$prefix/.$name-built
  [ -f "$stamp" ] && return
  cmake -S "$src" -B "$deps/build-$name-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$deps/build-$name-$arch" -j"$jobs" >/dev/null
  cmake --install "$deps/build-$name-$arch" >/dev/null
  touch "$stamp"
}

fetch_pugixml_source
pugi_src=$(ls -d "$deps"/pugixml-*/ | head -n 1)

for arch in x86_64 i686; do
  echo "== Windows build ($arch) =="
  prefix=$out/$arch/prefix
  build_dep pugixml "$pugi_src" "$arch" "$prefix" -DPUGIXML_BUILD_TESTS=OFF
  build_dep googletest /usr/src/googletest "$arch" "$prefix" -DINSTALL_GTEST=ON -DBUILD_GMOCK=OFF
  emulator=""
  [ "$arch" = x86_64 ] && emulator="-DCMAKE_CROSSCOMPILING_EMULATOR=$top/scripts/wine-run.sh"
  cmake -S . -B "$out/$arch/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/mingw-$arch.cmake" \
    -DQVSPLIT_WIN_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQVSPLIT_WERROR=ON -DQVSPLIT_BUILD_BENCH=OFF -DQVSPLIT_DISCOVER_TESTS=OFF $emulator >/dev/null
  cmake --build "$out/$arch/build" -j"$jobs"
  cmake -S examples/loader -B "$out/$arch/loader" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/mingw-$arch.cmake" >/dev/null
  cmake --build "$out/$arch/loader" >/dev/null
  # A caller of the C interface written in C (C99), linked with the DLL's import library.
  $arch-w64-mingw32-gcc -std=c99 -pedantic -Wall -Wextra -Werror -Iinclude tests/capi/capi_test.c \
    -L"$out/$arch/build" -lQvSplit -o "$out/$arch/capi_test.exe"
done

# Windows provides these; anything else (libwinpthread-1.dll, libstdc++-6.dll, libgcc_s_*.dll)
# would have to be shipped, and a user's machine does not have it.
system_dlls="kernel32.dll user32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll msvcrt.dll"
check_imports() {  # check_imports FILE ALLOWED_EXTRA...
  local file=$1; shift
  local allowed="$system_dlls $*" dll bad=0
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $allowed " in
      *" $dll "*) ;;
      *) echo "$file imports $dll, which Windows does not provide"; bad=1 ;;
    esac
  done
  [ "$bad" -eq 0 ] || exit 1
}
echo "== imports =="
for arch in x86_64 i686; do
  check_imports "$out/$arch/build/QvSplit.dll"
  check_imports "$out/$arch/build/qvsplit.exe" qvsplit.dll
  check_imports "$out/$arch/loader/loader.exe"
  check_imports "$out/$arch/capi_test.exe" qvsplit.dll
done
echo "QvSplit.dll, qvsplit.exe and the loader import only system DLLs (i686 and x86_64)"

echo "== DLL exports (x86_64) =="
dll=$out/x86_64/build/QvSplit.dll
exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
# Here-strings, not pipes: grep -q leaves at its first match, and under pipefail the echo still
# writing into the pipe would fail the test with SIGPIPE.
grep -q '\] GetQvSplitInterface$' <<< "$exports" || { echo "GetQvSplitInterface is not exported by name"; exit 1; }
grep -q 'CQvFileDescCatalog' <<< "$exports" || { echo "class members are not exported"; exit 1; }
echo "GetQvSplitInterface and $(grep -c 'CQv' <<< "$exports") class members exported"
for arch in x86_64 i686; do
  scripts/check-exports.sh "$out/$arch/build/QvSplit.dll" "$arch-w64-mingw32-objdump"
done

if [ "$run_tests" -eq 1 ]; then
  echo "== x86_64 tests under Wine =="
  # Wine may report a crashed program as a success (its debugger takes the fault), so the
  # run counts only when the test program itself got to its closing summary.
  wine_log=$(mktemp)
  scripts/wine-run.sh "$out/x86_64/build/tests/qvsplit_tests.exe" --gtest_brief=1 2>&1 | tee "$wine_log"
  if ! grep -q '^\[  PASSED  \]' "$wine_log" || grep -q '^\[  FAILED  \]\|Unhandled' "$wine_log"; then
    rm -f "$wine_log"
    echo "build-windows: the tests under Wine failed or did not finish"
    exit 1
  fi
  rm -f "$wine_log"
  echo "== the deliverable from a clean folder under Wine =="
  scripts/windows-smoke.sh "$out/x86_64/build" "$out/x86_64/loader/loader.exe" "$out/x86_64/capi_test.exe"
fi
