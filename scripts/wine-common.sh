# What the scripts that run Windows programs under Wine share; sourced.
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

#   add_wine_fonts PREFIX
#
# Windows' dialog font, "MS Shell Dlg", is Tahoma. Debian's Wine ships its
# own (fonts-wine) but keeps it out of a new prefix, and Qt then draws the
# window in the first font it finds, a serif: Wine's fonts go into the
# prefix's font folder, never over a font already there.
add_wine_fonts() {
  local fonts=$1/drive_c/windows/Fonts
  [[ -d $fonts ]] || fail "the Wine prefix $1 has no font folder"
  cp -n /usr/share/wine/fonts/*.ttf "$fonts/" || fail "Wine's fonts (fonts-wine) could not be copied into $fonts"
}
