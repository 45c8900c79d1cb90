#!/usr/bin/env bash
# Checks that the library exports by name exactly the C functions its .def file lists (C++
# members aside), so that an import library made from the .def matches the DLL.
# Usage: scripts/check-exports.sh LIBRARY (libQvSplit.so or QvSplit.dll) [OBJDUMP]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
lib=$1
objdump=${2:-objdump}
listed=$(sed -n '/^EXPORTS/,$p' "$top/src/capi/QvSplit.def" | tail -n +2 | sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' | sort)
case "$lib" in
  *.dll) exported=$("$objdump" -p "$lib" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
           | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' | grep -v '^_Z' | sort) ;;
  *) exported=$(nm -D --defined-only "$lib" | awk '$2 == "T" {print $3}' | grep -v '^_Z' | sort) ;;
esac
if [ "$listed" != "$exported" ]; then
  echo "check-exports: $lib and src/capi/QvSplit.def differ (< listed only, > exported only):"
  diff <(echo "$listed") <(echo "$exported") | grep '^[<>]' || true
  exit 1
fi
echo "check-exports: $(echo "$exported" | wc -l) C functions of $(basename "$lib") match QvSplit.def"
