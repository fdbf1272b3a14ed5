#!/usr/bin/env bash
# Builds the runtime and runs every test: a normal build, a build with
# AddressSanitizer + UndefinedBehaviorSanitizer, the VM suite again with a
# full collection at every call (GC stress), and each fuzz target for a short
# time (MCB_FUZZ_SECONDS, default 30), failing on any finding. Installs
# missing packages first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh

jobs=$(nproc)
run_config() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

echo "== normal build =="
run_config build
echo "== sanitizer build =="
run_config build-asan -DMCB_SANITIZE=ON -DMCB_BENCHMARKS=OFF
echo "== GC stress =="
(cd build-asan && MCB_GC_STRESS=1 QT_QPA_PLATFORM=offscreen ./tests/mcb_tests --gtest_filter='Vm*:Asm*:Example*' --gtest_brief=1)
echo "== fuzzing =="
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DMCB_FUZZ=ON -DMCB_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
rm -rf build-fuzz/ci-run
scripts/fuzz.sh -t "${MCB_FUZZ_SECONDS:-30}" -o build-fuzz/ci-run build-fuzz
echo "All tests passed."
