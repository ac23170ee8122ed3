#!/usr/bin/env bash
# The whole X screen as a PNG, for looking at what a test under Wine left on the display:
#   screenshot.sh OUT.png [DISPLAY]      (DISPLAY defaults to $DISPLAY)
# Exits non-zero when there is no display or no usable image was written.
set -euo pipefail
if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: $0 OUT.png [DISPLAY]" >&2
  exit 2
fi
out=$1
display=${2:-${DISPLAY:-}}
if [[ -z $display ]]; then
  echo "screenshot: no display given and DISPLAY is not set" >&2
  exit 2
fi
command -v import >/dev/null || { echo "screenshot: ImageMagick's import is missing" >&2; exit 1; }

rm -f "$out"
if ! import -display "$display" -window root "$out"; then
  echo "screenshot: import failed on display $display" >&2
  exit 1
fi
if [[ ! -s $out ]]; then
  echo "screenshot: $out is empty" >&2
  exit 1
fi
# A file that exists but is not a readable image is as useless as none.
if command -v identify >/dev/null && ! identify "$out" >/dev/null 2>&1; then
  echo "screenshot: $out is not a readable image" >&2
  exit 1
fi
echo "$out"
