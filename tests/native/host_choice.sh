#!/usr/bin/env bash
# The host check and the loader choice of scripts/wine-env.sh: the switch QEL_WIN32=off gives the
# 64-bit-only path whatever the host; without it the choice follows what the kernel runs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
expect() {  # DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
choice() {  # prints kind, loader, prefix kind and reason for the given QEL_WIN32 value
  QEL_WIN32=$1 bash -c 'source "$0/scripts/wine-env.sh"; qel_pick_build "$0"
    echo "$QEL_BUILD_KIND $QEL_WINE $WINEARCH ${QEL_BUILD_DIR#$0/}|$(qel_why_no_32bit)"' "$root"
}

expect "QEL_WIN32=off takes the twin" "win64 /usr/lib/wine/wine64 win64 build/win64|QEL_WIN32=off asks for the 64-bit-only path" \
  "$(choice off)"

# The kernel's own answer, asked here the same way: a static i386 program of five instructions.
t=$(mktemp -d)
printf '.globl _start\n_start: movl $1,%%eax\n movl $0,%%ebx\n int $0x80\n' >"$t/t.s"
if as --32 "$t/t.s" -o "$t/t.o" && ld -m elf_i386 "$t/t.o" -o "$t/t" && "$t/t" 2>/dev/null && [ -x /usr/lib/wine/wine ]; then
  expect "a host that runs 32-bit programs takes the 32-bit build" "win32 /usr/lib/wine/wine win32 build/win32|" "$(choice '')"
else
  expect "a host that runs no 32-bit programs takes the twin" "win64 /usr/lib/wine/wine64 win64 build/win64" "$(choice '' | cut -d'|' -f1)"
fi
rm -rf "$t"

# The wine command on PATH is the chosen loader, and keeps the caller's process id.
out=$(QEL_WINE=/bin/sh bash -c 'source "$0/scripts/wine-env.sh"; wine -c "echo \$\$" & echo $!; wait' "$root" | tr '\n' ' ')
set -- $out
expect "wine runs \$QEL_WINE in the process the caller started" "$1" "${2:-}"

[ "$failures" = 0 ]
