#!/usr/bin/env bash
# The layer check itself: on a copy of SRC with one include pointing up the order and two files
# that include each other, it must fail and name both, with the file, the line and the folders.
#   catches.sh SRC
set -euo pipefail
src=${1:?usage: catches.sh SRC}
here=$(cd "$(dirname "$0")" && pwd)
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$src/." "$copy/"
first_support=$(cd "$copy" && ls support/*.cpp | head -n 1)
sed -i '1i #include "app/install_stage.h"' "$copy/$first_support"
echo '#include "ui/gauge.h"' >>"$copy/ui/dialogs.h"
echo '#include "ui/dialogs.h"' >>"$copy/ui/gauge.h"
rc=0
out=$(bash "$here/check_layers.sh" "$copy") || rc=$?
echo "$out"
failures=0
expect() { grep -qF -- "$1" <<<"$out" || { echo "FAIL: not reported: $1"; failures=$((failures + 1)); }; }
[ "$rc" = 1 ] || { echo "FAIL: the check ended with $rc, not 1"; failures=$((failures + 1)); }
expect "$first_support:1: includes app/install_stage.h: app stands above support"
expect "include each other"
expect "ui/dialogs.h:"
[ "$failures" = 0 ] && echo "the layer check catches both"
exit $((failures != 0))
