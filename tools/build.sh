#!/usr/bin/env bash
# Installs what the build needs, builds dist/ (both plug-ins, 32-bit Windows DLLs, and the
# setup program clickwell-setup.exe), takes pictures of the dialogs and shows the plug-ins
# at work under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/win32 -j"$(nproc)" --target kwhid_gen_dist kwhid_wmp_dist clickwell_setup ui_screenshots
ls -l dist/kwhid_gen.dll dist/kwhid_wmp.dll dist/clickwell-setup.exe

# Pictures of the dialogs, taken again only when the program that draws them changed. No
# display is no reason to stop: the pictures are for a look by eye.
shots=build/win32/screenshots
log=build/win32/ui-screenshots.log
stamp=$shots/.taken
shots_rc=0
if [ -f "$stamp" ] && [ ! build/win32/tests/ui/ui_screenshots.exe -nt "$stamp" ]; then
  shots_line="Pictures of the dialogs (up to date): $shots/"
else
  rm -f "$stamp"
  ./tools/ui-screenshots.sh build/win32 >"$log" 2>&1 || shots_rc=$?
  case $shots_rc in
    0) touch "$stamp"
       shots_line="Pictures of the dialogs: $shots/ ($(find "$shots" -name '*.png' | wc -l) PNG files)" ;;
    3) shots_line="No pictures of the dialogs: $(sed -n 's/^ui-screenshots: no display: //p' "$log"); the build goes on" ;;
    *) cat "$log" >&2
       shots_line="Taking the pictures of the dialogs failed (exit $shots_rc), see $log" ;;
  esac
fi

demo_rc=0
./tools/demo.sh build/win32 || demo_rc=$?
echo
echo "$shots_line"
[ "$shots_rc" = 0 ] || [ "$shots_rc" = 3 ] || exit 1
exit $demo_rc
