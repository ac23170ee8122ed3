#!/usr/bin/env bash
# The layers of src/: every `#include "FOLDER/..."` of a file in src/FOLDER2/ must name a folder
# at or below FOLDER2 in the order that SRC/README.md gives ("1. `support` - ..."), and no two
# files may include each other. Prints each fault with the file, the line and the two folders;
# exits 1 when there is one.
#   check_layers.sh SRC
set -euo pipefail
src=${1:?usage: check_layers.sh SRC}
order=$(sed -n 's/^[0-9][0-9]*\. `\([a-z_]*\)`.*/\1/p' "$src/README.md")
[ -n "$order" ] || { echo "check_layers: no order of folders in $src/README.md" >&2; exit 2; }

cd "$src"
# Every quoted include of a file in a folder: FILE LINE INCLUDED
includes=$(grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' -- */*.h */*.cpp 2>/dev/null |
  sed -E 's/^([^:]+):([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1 \2 \3/')

awk -v order="$order" '
  BEGIN { n = split(order, folders, "\n"); for (i = 1; i <= n; i++) rank[folders[i]] = i }
  {
    file = $1; line = $2; included = $3
    own = file; sub(/\/.*/, "", own)
    if (!(own in rank)) { printf "%s: folder %s is not in the order of README.md\n", file, own; faults++; next }
    includes[file, included] = line
    pairs[++count] = file SUBSEP included
    if (included !~ /\//) next  # a header of res/, below every layer
    folder = included; sub(/\/.*/, "", folder)
    if (!(folder in rank)) { printf "%s:%s: includes %s, of folder %s that is not in the order\n", file, line, included, folder; faults++; next }
    if (rank[folder] > rank[own])
      { printf "%s:%s: includes %s: %s stands above %s\n", file, line, included, folder, own; faults++ }
  }
  END {
    for (i = 1; i <= count; i++) {
      split(pairs[i], pair, SUBSEP)
      if ((pair[2], pair[1]) in includes && pair[1] < pair[2]) {
        printf "%s:%s and %s:%s include each other\n", pair[1], includes[pair[1], pair[2]], pair[2], includes[pair[2], pair[1]]
        faults++
      }
    }
    if (faults) { printf "%d include(s) against the layers\n", faults; exit 1 }
    printf "layers kept: %d includes of %d folders\n", count, n
  }' <<<"$includes"
