#!/usr/bin/env bash
# Installs, from Debian's packages only, whatever the build, the tests and the benchmarks need
# and is missing.
# Quick when everything is present: it asks dpkg first and calls apt-get only for what is absent.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
  wine wine32:i386 wine64 binutils
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
  zlib1g-dev cmake ninja-build googletest clang libclang-rt-14-dev
  xvfb xauth x11-utils imagemagick
  locales python3 zip unzip nsis
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "bootstrap: installing ${missing[*]:-(package lists only)}"
  # A mirror in the middle of a sync serves an index of the wrong size, and apt-get update then
  # fails: it is tried again after a pause.
  for attempt in 1 2 3; do
    "${sudo_cmd[@]}" apt-get update -qq && break
    [ "$attempt" = 3 ] || { echo "bootstrap: the package lists failed to download; again in 20 s"; sleep 20; }
  done
  if [ ${#missing[@]} -gt 0 ] &&
    ! "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Without the i386 package lists (that mirror still syncing) the 32-bit Wine cannot be had,
    # but everything else can: the Windows tests then run on the 64-bit twin.
    native_only=()
    for p in "${missing[@]}"; do [[ $p == *:i386 ]] || native_only+=("$p"); done
    [ ${#native_only[@]} -lt ${#missing[@]} ] || exit 1
    echo "bootstrap: the 32-bit packages could not be installed; installing the rest"
    [ ${#native_only[@]} -eq 0 ] ||
      "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${native_only[@]}" >/dev/null
  fi
fi

# A Japanese locale: Wine takes its ANSI code page (932) from it for the double-byte path tests.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "bootstrap: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
