#!/usr/bin/env bash
# Runs a command on an Xvfb display of its own, which ends with it:  with-display.sh COMMAND...
set -euo pipefail
source "$(dirname "$0")/xvfb.sh"
qel_start_xvfb 24
"$@"
