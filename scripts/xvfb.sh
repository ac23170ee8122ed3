# Sourced: starts an Xvfb server on a free display and exports DISPLAY. The server ends with the
# shell. Xvfb picks the display itself (-displayfd) and names it once it accepts clients, so
# scripts started side by side never race for a number and never wait on a fixed pause.
#   qel_start_xvfb [DEPTH]     - also sets an EXIT trap that ends the server
#   qel_spawn_xvfb DEPTH       - the server alone: QEL_XVFB_PID and DISPLAY, no trap
qel_spawn_xvfb() {
  local depth=$1 named n=
  named=$(mktemp -u)
  mkfifo "$named"
  # The fifo's writer is Xvfb's descriptor 3: the read below ends when it writes the number or,
  # should it fail to start, when it exits.
  Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp 3>"$named" >/dev/null 2>&1 </dev/null &
  QEL_XVFB_PID=$!
  read -r -t 20 n <"$named" || true
  rm -f "$named"
  if [ -z "$n" ]; then
    echo "xvfb.sh: Xvfb did not start" >&2
    kill "$QEL_XVFB_PID" 2>/dev/null || true
    return 1
  fi
  export DISPLAY=":$n"
}

qel_start_xvfb() {
  qel_spawn_xvfb "${1:-24}" || return 1
  trap 'kill $QEL_XVFB_PID 2>/dev/null || true' EXIT
}
