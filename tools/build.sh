#!/usr/bin/env bash
# Builds both plug-ins (32-bit Windows DLLs) into dist/.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/win32 -j"$(nproc)" --target kwhid_gen_dist kwhid_wmp_dist
ls -l dist/kwhid_gen.dll dist/kwhid_wmp.dll
