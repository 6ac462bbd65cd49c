#!/usr/bin/env bash
# Builds Kestrel and runs every test: the suite, each fuzz target for a bounded time on a seed
# corpus made by the archive builder, and last the suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer (its ctest summary closes the output).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_FUZZ=ON -DKESTREL_TESTS=OFF \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs"
bash scripts/fuzz.sh build-fuzz "${KESTREL_FUZZ_SECONDS:-20}"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-asan -j"$jobs"
# The tests that kill a child process at random moments check what is on disk afterwards; they ran
# in the normal build above and add nothing to the sanitizers but minutes.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -E "KilledAt"
