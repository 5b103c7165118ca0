#!/usr/bin/env bash
# Shows both plug-ins at work without Windows: each demo program loads a plug-in from dist/
# the way its player does, under Wine, with a simulated remote on the fake HID platform, and
# prints what the player was told.
#
#   demo.sh [BUILD_DIR]   BUILD_DIR: a configured win32 build tree (default build/win32)
#
# Each demo program gets the plug-in to load as its first argument: the build tree's dist
# copy, by its Unix path; the Winamp demo also the file for its picture of the configuration
# dialog. Transcripts and the picture are kept in BUILD_DIR/demo/. The demos run on a
# display of their own (Xvfb) when one starts, in BUILD_DIR/wine-shots, whose prefixes draw
# with the X11 driver; else in BUILD_DIR/wine under the null graphics driver. A demo whose
# program the tree does not have yet is skipped with a line saying so. Exits non-zero when
# a demo that ran failed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/win32}
[ -f "$build/CMakeCache.txt" ] || { echo "demo.sh: $build is no configured build tree" >&2; exit 2; }

dist=$(sed -n 's/^KW_DIST_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$dist" ] || { echo "demo.sh: $build names no dist folder (KW_DIST_DIR)" >&2; exit 2; }

demos=(demo_winamp demo_wmp)
declare -A plugin=([demo_winamp]=kwhid_gen.dll [demo_wmp]=kwhid_wmp.dll)
declare -A heading=(
  [demo_winamp]="Winamp plug-in dist/kwhid_gen.dll, loaded by a simulated Winamp"
  [demo_wmp]="Windows Media Player plug-in dist/kwhid_wmp.dll, created by a simulated Windows Media Player"
)

known=$(cmake --build "$build" --target help 2>/dev/null || true)
present=()
for d in "${demos[@]}"; do
  # Makefiles list "... name", Ninja "name: phony".
  if grep -Eq "(^|[ .])$d(:| |$)" <<<"$known"; then present+=("$d"); fi
done
if [ ${#present[@]} -gt 0 ]; then
  log=$build/demo-build.log
  cmake --build "$build" -j"$(nproc)" --target "${present[@]}" >"$log" 2>&1 ||
    { cat "$log" >&2; echo "demo.sh: building ${present[*]} failed" >&2; exit 1; }
fi

out=$build/demo
mkdir -p "$out"

# shellcheck source=tools/x11-display.sh
. ./tools/x11-display.sh
root=$build/wine
if [ ${#present[@]} -gt 0 ]; then
  if kw_display_start; then
    trap kw_display_stop EXIT
    if kw_x11_root ./tools/wine-run "$build/wine-shots" >"$out/display.log" 2>&1; then
      root=$build/wine-shots
      rm -f "$out/display.log"
    else
      echo "(no display for the demos: cannot set up $build/wine-shots, see $out/display.log)"
      kw_display_stop
    fi
  else
    echo "(no display for the demos: $kw_display_why; they run under Wine's null graphics driver)"
  fi
fi

failed=0
for d in "${demos[@]}"; do
  printf '\n===== %s\n' "${heading[$d]}"
  exe=
  if [[ " ${present[*]} " == *" $d "* ]]; then
    exe=$(find "$build/tests" -name "$d.exe" -type f -print -quit)
  fi
  if [ -z "$exe" ]; then
    echo "(skipped: this build has no $d program yet)"
    continue
  fi
  picture=()
  [ "$d" = demo_winamp ] && picture=("$out/demo-winamp-config.png")
  # The fakes replace the system's HID libraries, so the demo runs in a prefix of its own.
  if ! KW_WINE_PRIVATE_PREFIX=1 WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n \
       ./tools/wine-run --root "$root" "$exe" "$dist/${plugin[$d]}" "${picture[@]}" | tee "$out/$d.txt"; then
    echo "demo.sh: $d failed" >&2
    failed=1
  fi
  echo "(transcript: $out/$d.txt)"
done
[ "$root" = "$build/wine" ] || ./tools/wine-run --root "$root" --stop
exit $failed
