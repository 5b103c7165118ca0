#!/usr/bin/env bash
# Installs what the build needs, builds dist/ (both plug-ins, 32-bit Windows DLLs, and the
# setup program clickwell-setup.exe), then shows the plug-ins at work under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/win32 -j"$(nproc)" --target kwhid_gen_dist kwhid_wmp_dist clickwell_setup
ls -l dist/kwhid_gen.dll dist/kwhid_wmp.dll dist/clickwell-setup.exe
./tools/demo.sh build/win32
