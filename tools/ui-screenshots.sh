#!/usr/bin/env bash
# Pictures of the dialogs under Xvfb, for a look by eye (not part of CI):
#   tools/ui-screenshots.sh [BUILD_DIR]     default build/win32
# Leaves BUILD_DIR/screenshots/*.png. Runs in a Wine root of its own (BUILD_DIR/wine-shots),
# switched from the null graphics driver to X11, with unmanaged windows.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/win32}" && pwd)
exe=$build/tests/ui/ui_screenshots.exe
[ -f "$exe" ] || { echo "ui-screenshots: build ui_screenshots first ($exe)" >&2; exit 2; }
out=$build/screenshots
root=$build/wine-shots
mkdir -p "$out"

display=
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "ui-screenshots: no free display" >&2; exit 2; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
stop() {
  "$here/wine-run" --root "$root" --stop || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap stop EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=:$display

"$here/wine-run" --root "$root" --prepare
WINEPREFIX=$root/shared WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
WINEPREFIX=$root/shared WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# The desktop process picks the driver for every program: start it again with X11.
"$here/wine-run" --root "$root" --stop
"$here/wine-run" --root "$root" "$exe" "Z:${out//\//\\}"
ls -l "$out"
