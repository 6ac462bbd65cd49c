#!/usr/bin/env bash
# Builds Kestrel's Debian package from the build directory that scripts/test.sh uses (build/),
# checks it with lintian and prints the package's path. Install it with
#   apt install ./build/kestrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target kestrel_programs >&2
rm -f build/kestrel_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/kestrel_*.deb)
# Errors fail the script; warnings and notes are shown (without lintian's remark on running as
# root).
status=0
report=$(lintian --fail-on error --info "$deb" 2>&1) || status=$?
grep -v 'root privileges' <<< "$report" >&2 || true
[ "$status" = 0 ] || { echo "lintian reports errors in $deb" >&2; exit 1; }
echo "$deb"
