#!/usr/bin/env bash
# Shows both plug-ins at work without Windows: each demo program loads a plug-in from dist/
# the way its player does, under Wine, with a simulated remote on the fake HID platform, and
# prints what the player was told.
#
#   demo.sh [BUILD_DIR]   BUILD_DIR: a configured win32 build tree (default build/win32)
#
# Each demo program gets the plug-in to load as its one argument: the build tree's dist copy,
# by its Unix path. A demo whose program the tree does not have yet is skipped with a line
# saying so. Exits non-zero when a demo that ran failed.
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
  # The fakes replace the system's HID libraries, so the demo runs in a prefix of its own.
  if ! KW_WINE_PRIVATE_PREFIX=1 WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n \
       ./tools/wine-run --root "$build/wine" "$exe" "$dist/${plugin[$d]}"; then
    echo "demo.sh: $d failed" >&2
    failed=1
  fi
done
exit $failed
