# shellcheck shell=bash disable=SC2034  # kw_display_why is read by the sourcing script
# Sourced by tools/ui-screenshots.sh and tools/demo.sh: a display for Wine programs whose
# windows must really be drawn (pictures of them), and a Wine root that draws on it.
#
#   kw_display_start        starts Xvfb on a free display and exports DISPLAY; on failure
#                           returns 1 with the reason in $kw_display_why
#   kw_display_stop         stops that Xvfb; call it from the sourcing script's EXIT trap
#   kw_x11_root WINE_RUN ROOT
#                           makes ROOT a Wine root (tools/wine-run --root) whose prefixes
#                           use the X11 graphics driver: its template is switched from the
#                           null driver, so that private prefixes cloned from it draw too
#                           (the driver is picked when a prefix's desktop starts, so a
#                           registry change inside a running prefix would come too late)

kw_display_pid=
kw_display_why=

kw_display_start() {
  local n display=
  if ! command -v Xvfb >/dev/null 2>&1; then
    kw_display_why="Xvfb is not installed (tools/install-deps.sh installs it)"
    return 1
  fi
  for n in $(seq 90 130); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
  done
  if [ -z "$display" ]; then
    kw_display_why="no free display among :90 to :130"
    return 1
  fi
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  kw_display_pid=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && { export DISPLAY=:$display; return 0; }
    kill -0 "$kw_display_pid" 2>/dev/null || break
    sleep 0.1
  done
  kw_display_stop
  kw_display_why="Xvfb did not start on :$display"
  return 1
}

kw_display_stop() {
  [ -n "$kw_display_pid" ] || return 0
  kill "$kw_display_pid" 2>/dev/null || true
  wait "$kw_display_pid" 2>/dev/null || true
  kw_display_pid=
}

kw_x11_root() {
  local wine_run=$1 root=$2 reg
  reg=$root/template/user.reg
  if [ ! -f "$root/template/.kw-template" ]; then
    "$wine_run" --root "$root" --prepare || return 1
    "$wine_run" --root "$root" --stop
  fi
  # Nothing runs in the template: its registry file can be edited as text.
  if grep -qx '"Graphics"="null"' "$reg"; then
    sed -i 's/^"Graphics"="null"$/"Graphics"="x11"/' "$reg"
  fi
  grep -qx '"Graphics"="x11"' "$reg" || { echo "no graphics driver entry in $reg" >&2; return 1; }
}
