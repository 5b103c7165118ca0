#!/usr/bin/env bash
# Every build with its tests: native, native under ASan+UBSan and TSan, then the win32 build
# with its tests under Wine, last, so the output ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
ctest_opts=(--output-on-failure -j"$jobs")
section() { printf '\n===== %s\n' "$*"; }

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
}

./tools/install-deps.sh

section "native build and tests"
configure_and_build build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build/native && ctest "${ctest_opts[@]}")

section "benchmarks"
{
  cat build/native/kw_benchmarks.txt
  find "$PWD/build/native" -type f -name '*_bench' -perm -u+x
} | sort -u | while read -r bench; do
  [ -n "$bench" ] || continue
  echo "--- ${bench#"$PWD"/build/native/}"
  "$bench" --benchmark_min_time=0.1
done
./tools/report-cost.sh build/native/tests/engine/report_cost

section "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DKW_SANITIZE=address,undefined \
  -DKW_BUILD_BENCHMARKS=OFF
(cd build/asan &&
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1 ctest "${ctest_opts[@]}")

section "threaded tests under ThreadSanitizer"
configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DKW_SANITIZE=thread \
  -DKW_BUILD_BENCHMARKS=OFF
# TSan's shadow memory clashes with some kernels' address space layout ("unexpected memory
# mapping"); without ASLR it always fits.
tsan_run=()
printf '#include <thread>\nint main() { std::thread([] {}).join(); }\n' |
  g++ -fsanitize=thread -x c++ - -o build/tsan/tsan_probe
if ! build/tsan/tsan_probe >/dev/null 2>&1; then
  echo "TSan needs ASLR off on this kernel"
  tsan_run=(setarch "$(uname -m)" -R)
fi
(cd build/tsan &&
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  "${tsan_run[@]}" ctest "${ctest_opts[@]}" -L threaded --no-tests=ignore)

section "win32 build, tests under Wine"
configure_and_build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The Wine servers end with this script; their output would follow CTest's summary.
trap './tools/wine-run --root build/win32/wine --stop' EXIT
# The figures of the benchmarks mean something only with nothing else running: the suite
# first, in parallel, then the benchmarks one at a time.
(cd build/win32 && ctest "${ctest_opts[@]}" -LE bench && ctest --verbose -L bench --no-tests=ignore)
