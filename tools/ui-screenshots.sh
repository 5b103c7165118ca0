#!/usr/bin/env bash
# Pictures of the dialogs under Xvfb, for a look by eye (not part of CI):
#   tools/ui-screenshots.sh [BUILD_DIR]     default build/win32
# Leaves BUILD_DIR/screenshots/*.png. Runs ui_screenshots.exe on the fake HID platform in a
# private prefix of a Wine root of its own (BUILD_DIR/wine-shots), whose prefixes use the
# X11 driver, with unmanaged windows.
# Exit code: 0 all pictures saved; 3 no display could be started (the reason on stderr);
# else a failure of the program or of the Wine setup.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/win32}" && pwd)
exe=$build/tests/ui/ui_screenshots.exe
[ -f "$exe" ] || { echo "ui-screenshots: build ui_screenshots first ($exe)" >&2; exit 2; }
out=$build/screenshots
root=$build/wine-shots
mkdir -p "$out"

# shellcheck source=tools/x11-display.sh
. "$here/x11-display.sh"
kw_display_start || { echo "ui-screenshots: no display: $kw_display_why" >&2; exit 3; }
stop() {
  "$here/wine-run" --root "$root" --stop || true
  kw_display_stop
}
trap stop EXIT

kw_x11_root "$here/wine-run" "$root"
rm -f "$out"/*.png
KW_WINE_PRIVATE_PREFIX=1 WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n \
  "$here/wine-run" --root "$root" "$exe" "Z:${out//\//\\}"
