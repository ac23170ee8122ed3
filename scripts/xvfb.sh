# Sourced: starts an Xvfb server on a free display and exports DISPLAY, unless
# QEL_USE_DISPLAY=1 asks to use the caller's own display. The server ends with the shell.
qel_start_xvfb() {
  local depth=${1:-24} n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 "1024x768x$depth" -nolisten tcp >/dev/null 2>&1 &
  QEL_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.05
  done
  export DISPLAY=":$n"
  trap 'kill $QEL_XVFB_PID 2>/dev/null || true' EXIT
}
