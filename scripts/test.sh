#!/usr/bin/env bash
# Builds Kestrel once and runs every test on that build: one clang tree compiled with
# AddressSanitizer + UndefinedBehaviorSanitizer and the fuzzer's coverage hooks. The whole suite
# runs in it under the sanitizers, then each fuzz target for a bounded time on a seed corpus made
# by the archive builder. Everything is optimised (-O2), so that the walks over the engine-written
# samples and the picture encoders run at a useful speed under the sanitizers (tests and program
# share one level: the linker keeps one copy of each inline function, and an unoptimised copy from
# a test would slow the program's code down tenfold). Each phase prints how long it took; ctest's
# own closing lines summarise the suite.
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

tree=build-check
timed "configure" \
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=ON \
        -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only" >/dev/null
timed "build" cmake --build "$tree" -j"$jobs"
timed "fuzz" bash scripts/fuzz.sh "$tree" "${KESTREL_FUZZ_SECONDS:-5}" "$jobs"
# Many tests wait on the child processes they start: one more test than cores keeps both busy.
# ctest starts the tests it knows to be long first (its cost data, seeded once in a new tree).
costs="$tree/Testing/Temporary/CTestCostData.txt"
if [ ! -f "$costs" ]; then
  mkdir -p "$(dirname "$costs")"
  { grep -v '^#' scripts/test-costs.txt; echo "---"; } > "$costs"
fi
# The suite makes and removes hundreds of thousands of small files (export trees); a disk file
# system spends most of that time finding free inodes, a RAM one none. Its temporary folders go
# to /dev/shm when that has room for them (4 GiB free), elsewhere to the usual place.
suiteStart=$SECONDS
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -ge $((4 * 1024 * 1024)) ]; then
  TMPDIR=$(mktemp -d /dev/shm/kestrel-suite-XXXXXX)
  # Open to every user as /tmp is: some tests run the program as another user.
  chmod 1777 "$TMPDIR"
  export TMPDIR
  trap 'rm -rf "$TMPDIR"' EXIT
fi
# A sanitized test program takes a tenth of a second to start, and ctest starts one per test.
# The test suites whose every test takes under a second (those without a line in
# scripts/test-costs.txt) run in one process of their program, beside ctest, which runs the rest.
suites=$("$tree/kestrel_tests" --gtest_list_tests | awk '/^[^ ]/ && !/^Running main/ {sub(/\..*/, ""); print}')
slow=$(grep -v '^#' scripts/test-costs.txt | awk '{sub(/\..*/, "", $1); print $1}' | sort -u)
quick=$(comm -23 <(echo "$suites" | sort -u) <(echo "$slow"))
filter=$(echo "$quick" | sed 's/$/.*/' | paste -sd: -)
exclude="^($(echo "$quick" | paste -sd'|' -))\\."
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
echo "== suite starts (total $((SECONDS - started)) s; temporary files in ${TMPDIR:-/tmp};" \
     "$(echo "$quick" | wc -l) quick test suites in one process)"
"$tree/kestrel_tests" --gtest_filter="$filter" --gtest_brief=1 > "$tree/quick-tests.log" 2>&1 &
quickRun=$!
ctestStatus=0
ctest --test-dir "$tree" --output-on-failure -j"$((jobs + 1))" -E "$exclude" || ctestStatus=$?
quickStatus=0
wait "$quickRun" || quickStatus=$?
tail -n 3 "$tree/quick-tests.log"
if [ "$quickStatus" -ne 0 ]; then
  grep -E '^\[  FAILED  \]|Failure|ERROR: |runtime error' "$tree/quick-tests.log" | head -n 200
  echo "== the quick test suites failed (whole output: $tree/quick-tests.log)"
fi
echo "== suite: $((SECONDS - suiteStart)) s (total $((SECONDS - started)) s)"
[ "$ctestStatus" -eq 0 ] && [ "$quickStatus" -eq 0 ]
