#!/usr/bin/env bash
# Compares the symbols a built shared library exports (type, name and version node) with the
# committed list. Usage: check-abi.sh LIBRARY [LIST]. With QOR_ABI_UPDATE=1 it rewrites the
# list instead, for a planned change of the ABI.
set -euo pipefail
lib="$1"
list="${2:-$(dirname "$0")/abi-symbols.txt}"
actual="$(nm -D --defined-only "$lib" | awk '{print $2, $3}' | LC_ALL=C sort -k2)"
if [ "${QOR_ABI_UPDATE:-0}" = 1 ]; then
    printf '%s\n' "$actual" >"$list"
    echo "abi: wrote $(wc -l <"$list") symbols to $list"
    exit 0
fi
if ! diff -u "$list" <(printf '%s\n' "$actual"); then
    echo "abi: the exported symbols of $lib differ from $list (lines with - are gone," \
         "lines with + are new). A planned change updates the list: QOR_ABI_UPDATE=1 $0 $*" >&2
    exit 1
fi
echo "abi: $(wc -l <"$list") exported symbols match $list"
