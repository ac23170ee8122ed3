#!/usr/bin/env bash
# Locate benchmark: how long the search for the installed client takes over a tree of 20,000
# directories on drive D: of a throwaway prefix, with the client's database 6 levels down,
# against two baselines measured in the same run:
#   locate  the program's own locate_client (dialog 202 showing each directory, the message pump,
#           the candidate test), by bench/locate_walk.exe locate;
#   walk    a plain recursive FindFirstFile/FindNextFile walk of the same drives that tests each
#           directory for ZOVE.EXE, with no dialog (locate_walk.exe walk);
#   find    `find -iname ZOVE.EXE` over the same folders natively (the drives' folders).
# Both Wine runs walk every fixed drive (the prefix's C: and D:). The runs take turns, 5 of each;
# the figures are the medians of the programs' own milliseconds (find: wall clock).
#
#   bash scripts/build.sh && bash bench/locate.sh [--runs N]
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
runs=5
[ "${1:-}" = --runs ] && runs=${2:?--runs needs a number}

source "$root/scripts/wine-env.sh"
qel_pick_build "$root"
build=$QEL_BUILD_DIR
program='E:\bench\locate_walk.exe'
[ -f "$build/bench/locate_walk.exe" ] || { echo "locate.sh: $build/bench/locate_walk.exe missing: run scripts/build.sh first" >&2; exit 1; }

work=$root/build/bench-locate
source "$root/scripts/xvfb.sh"
qel_start_xvfb 24
export WINEPREFIX=$work/wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'bash "$root/scripts/wine-prefix.sh" stop "$work/wine" >/dev/null 2>&1; kill $QEL_XVFB_PID 2>/dev/null; true' EXIT
bash "$root/scripts/wine-prefix.sh" create "$work/wine" "$build" >/dev/null
drive_d=$work/wine/drive_d

# 20 x 20 x 50 directories, and the client at depth 6 in the middle of them.
tree=$drive_d/TREE
(cd "$drive_d" && for a in $(seq -w 20); do for b in $(seq -w 20); do for c in $(seq -w 49); do
  echo "TREE/A$a/B$b/C$c"; done; done; done | xargs mkdir -p)
client_rel=TREE/A10/B10/C25/D1/E1/QEL
mkdir -p "$drive_d/$client_rel"
bash "$root/scripts/sample-client.sh" "$drive_d/$client_rel" "$build" "$root/build/native"
dirs=$(find "$drive_d" "$WINEPREFIX/drive_c" -type d | wc -l)
echo "tree: $(find "$tree" -type d | wc -l) directories on D:, $dirs in all with C:; client at D:\\${client_rel//\//\\}"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
: >"$work/locate.ms"; : >"$work/walk.ms"; : >"$work/find.ms"
for run in $(seq "$runs"); do
  out=$(wine "$program" locate 2>/dev/null | tr -d '\r')
  case "$out" in *"found=D:\\${client_rel//\//\\} "*) ;; *) echo "locate run $run found the wrong place: $out" >&2; exit 1 ;; esac
  echo "${out##*ms=}" >>"$work/locate.ms"
  out=$(wine "$program" walk 2>/dev/null | tr -d '\r')
  echo "${out##*ms=}" >>"$work/walk.ms"
  start=$(date +%s%N)
  find "$drive_d" "$WINEPREFIX/drive_c" -iname ZOVE.EXE >/dev/null
  echo $(( ($(date +%s%N) - start) / 1000000 )) >>"$work/find.ms"
done
locate=$(median <"$work/locate.ms") walk=$(median <"$work/walk.ms") find_ms=$(median <"$work/find.ms")
echo "runs: $runs of each; medians in ms"
echo "locate_client  $locate   (all: $(tr '\n' ' ' <"$work/locate.ms"))"
echo "plain walk     $walk   (all: $(tr '\n' ' ' <"$work/walk.ms"))"
echo "native find    $find_ms   (all: $(tr '\n' ' ' <"$work/find.ms"))"
awk -v l="$locate" -v w="$walk" -v f="$find_ms" 'BEGIN {
  printf "locate / walk = %.2f\n", (w > 0 ? l / w : 0)
  printf "locate / find = %.2f\n", (f > 0 ? l / f : 0) }'
