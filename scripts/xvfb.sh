# Sourced: start_xvfb starts a private X server (-displayfd picks a free
# display) and exports DISPLAY; stop_xvfb ends it.
start_xvfb() {
  xvfb_tmp=$(mktemp -d)
  exec 3> "$xvfb_tmp/display"
  Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$xvfb_tmp/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$xvfb_tmp/display")"
}

stop_xvfb() {
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$xvfb_tmp"
}
