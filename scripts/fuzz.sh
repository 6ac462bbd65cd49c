#!/usr/bin/env bash
# Runs every libFuzzer target built in <fuzz-build-dir> for <seconds> each, [parallel] of them at
# a time (default: one per core), on a seed corpus written by the test archive builder
# (kestrel_make_seeds). Crash inputs are kept in the fuzz build directory as <target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_dir=${1:?usage: scripts/fuzz.sh <fuzz-build-dir> <seconds>}
seconds=${2:?usage: scripts/fuzz.sh <fuzz-build-dir> <seconds>}
parallel=${3:-$(nproc)}

seeds_tool=""
for candidate in "$fuzz_dir/kestrel_make_seeds" build/kestrel_make_seeds; do
  if [ -x "$candidate" ]; then seeds_tool=$candidate; break; fi
done
if [ -z "$seeds_tool" ] && [ -f build/build.ninja ]; then
  cmake --build build --target kestrel_make_seeds >/dev/null
  seeds_tool=build/kestrel_make_seeds
fi
if [ -z "$seeds_tool" ]; then
  echo "kestrel_make_seeds not found in $fuzz_dir or build/; configure build/ with tests on" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$seeds_tool" "$work/seeds" >/dev/null

# One target on its own copy of the seeds; its report is printed in one piece when it ends, so
# that targets running side by side do not mix their lines.
run_target() {
  local target=$1 name
  name=$(basename "$target")
  mkdir -p "$work/$name"
  cp "$work/seeds/"* "$work/$name/"
  # libFuzzer reports every new input; keep its log and show it only when the target fails.
  if ! "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
      -artifact_prefix="$fuzz_dir/$name-" "$work/$name" > "$work/$name.log" 2>&1; then
    cat "$work/$name.log"
    echo "$name failed" >&2
    return 1
  fi
  echo "== $name: ${seconds}s: $(grep -E '^Done [0-9]+ runs' "$work/$name.log" ||
    tail -n 1 "$work/$name.log")"
}

found=0
failed=0
running=0
for target in "$fuzz_dir"/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  found=1
  if [ "$running" -ge "$parallel" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$found" = 0 ]; then
  echo "no fuzz targets in $fuzz_dir (configure with -DKESTREL_FUZZ=ON)" >&2
  exit 1
fi
exit "$failed"
