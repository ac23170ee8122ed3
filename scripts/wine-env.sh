# Sourced by every script that runs Wine: which Windows build this host can run, and the loader
# for it by its full path. /usr/bin/wine is never used: it picks Debian's 32-bit loader whenever
# that is installed, also on hosts whose kernel refuses every i386 program.
#
#   qel_runs_32bit      - 0 when the host executes 32-bit programs and the 32-bit Wine loader is
#                         installed; QEL_WIN32=off answers 1, to test the 64-bit-only path
#   qel_why_no_32bit    - one line saying why not
#   qel_pick_build ROOT - exports QEL_BUILD_KIND (win32 or win64), QEL_BUILD_DIR (its tree),
#                         QEL_WINE and WINEARCH for the build this host runs
#   qel_use_tree TREE   - exports QEL_WINE and WINEARCH for the given cross build tree, as its
#                         toolchain recorded them
#   wine ARGS...        - runs ARGS under $QEL_WINE (scripts/bin/wine, first on PATH)

qel_runs_32bit() {
  if [ -z "${QEL_HOST_32BIT:-}" ]; then
    QEL_HOST_32BIT=no
    local t
    t=$(mktemp -d)
    # Five instructions, static, no library: only the kernel decides whether it runs.
    printf '.globl _start\n_start: movl $1,%%eax\n movl $0,%%ebx\n int $0x80\n' >"$t/t.s"
    if as --32 "$t/t.s" -o "$t/t.o" 2>/dev/null && ld -m elf_i386 "$t/t.o" -o "$t/t" 2>/dev/null &&
      "$t/t" 2>/dev/null; then
      QEL_HOST_32BIT=yes
    fi
    rm -rf "$t"
    export QEL_HOST_32BIT
  fi
  [ "${QEL_WIN32:-}" != off ] && [ "$QEL_HOST_32BIT" = yes ] && [ -x /usr/lib/wine/wine ]
}

qel_why_no_32bit() {
  qel_runs_32bit && return 0
  if [ "${QEL_WIN32:-}" = off ]; then echo "QEL_WIN32=off asks for the 64-bit-only path"
  elif [ "${QEL_HOST_32BIT:-}" != yes ]; then echo "this machine runs no 32-bit programs"
  else echo "the 32-bit Wine loader /usr/lib/wine/wine is not installed"
  fi
}

qel_use_tree() {
  local cache=$1/CMakeCache.txt
  QEL_WINE=$(sed -n 's/^QEL_WINE_LOADER:INTERNAL=//p' "$cache" 2>/dev/null)
  WINEARCH=$(sed -n 's/^QEL_WINE_ARCH:INTERNAL=//p' "$cache" 2>/dev/null)
  if [ -z "$QEL_WINE" ] || [ -z "$WINEARCH" ]; then
    echo "$1: not a configured Windows build tree" >&2
    return 1
  fi
  export QEL_WINE WINEARCH
}

qel_pick_build() {
  if qel_runs_32bit; then
    export QEL_BUILD_KIND=win32 QEL_WINE=/usr/lib/wine/wine
  else
    export QEL_BUILD_KIND=win64 QEL_WINE=/usr/lib/wine/wine64
  fi
  export QEL_BUILD_DIR=$1/build/$QEL_BUILD_KIND WINEARCH=$QEL_BUILD_KIND
}

PATH=$(cd "$(dirname "${BASH_SOURCE[0]}")/bin" && pwd):$PATH
export PATH
