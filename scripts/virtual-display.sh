# Sourced by the scripts that show Windows programs under Wine:
#
#   start_virtual_display LOG SIZE    e.g. start_virtual_display "$work/xvfb.log" 1280x1024x24
#
# starts a virtual X server on a free display (Xvfb picks it and writes its
# number to a pipe once it is ready), exports DISPLAY, and leaves the
# server's process id in xvfb_pid for the caller to end. Calls the caller's
# `fail` when the server does not come up within 30 s.
start_virtual_display() {
  local log=$1 size=$2 display=""
  exec {display_fd}< <(exec Xvfb -displayfd 1 -screen 0 "$size" -nolisten tcp 2>"$log")
  xvfb_pid=$!
  IFS= read -r -t 30 -u "$display_fd" display || true
  [[ $display =~ ^[0-9]+$ ]] || fail "Xvfb did not start: $(tail -n 3 "$log")"
  export DISPLAY=:$display
}
