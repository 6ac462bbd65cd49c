#!/usr/bin/env bash
# Builds Kestrel and runs every test: the suite (g++, RelWithDebInfo); then one clang tree
# compiled once with AddressSanitizer + UndefinedBehaviorSanitizer and the fuzzer's coverage hooks,
# in which each fuzz target runs for a bounded time on a seed corpus made by the archive builder,
# and last the whole suite again under the sanitizers (its ctest summary closes the output). Each
# phase prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
started=$SECONDS

# Runs a command and prints the phase's duration after it.
timed() {
  local name=$1 t0=$SECONDS
  shift
  "$@"
  echo "== $name: $((SECONDS - t0)) s (total $((SECONDS - started)) s)"
}

# A tree this script creates (a fresh clone, as in CI) gets line tables only (-g1): full debug
# information makes g++ take a third longer on the tests, and backtraces need no more. A tree
# that exists keeps the flags it was made with.
fresh=()
if [ ! -f build/CMakeCache.txt ]; then
  fresh=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
fi
timed "configure" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${fresh[@]}" >/dev/null
timed "build" cmake --build build -j"$jobs"
# Many tests wait on the child processes they start: one more test than cores keeps both busy.
timed "suite" ctest --test-dir build --output-on-failure -j"$((jobs + 1))"

# Debug keeps assertions on; line tables are all a sanitizer report needs, and compile faster than
# full debug information (-O1 would compile a third slower still).
timed "configure sanitizers" \
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON \
        -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS_DEBUG="-O0 -gline-tables-only" >/dev/null
timed "build sanitizers + fuzz" cmake --build build-asan -j"$jobs"
timed "fuzz" bash scripts/fuzz.sh build-asan "${KESTREL_FUZZ_SECONDS:-10}" "$jobs"

# Left out under the sanitizers, having run in the normal build above: the tests that kill a child
# process at random moments (they check what is on disk afterwards), and the walks over every
# engine-written sample, which take five to seven times as long unoptimised and read the same
# parsers the fuzz targets have just driven under the sanitizers. ctest's own closing lines give
# this last phase's duration.
echo "== sanitizer suite starts (total $((SECONDS - started)) s)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$((jobs + 1))" \
        -E "KilledAt|Sample|Package"
