#!/usr/bin/env bash
# Builds Kestrel, writes a small demo bundle with the project's own archive builder (UnityFS with
# LZ4 blocks: a DXT5 and an RGBA32 texture, a text asset, a mesh and a sound), exports it and
# shows the tree that the export wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kestrel kestrel_make_demo

rm -rf demo
mkdir -p demo
build/kestrel_make_demo demo/demo.unity3d
echo "== kestrel list demo/demo.unity3d"
build/kestrel list demo/demo.unity3d
echo "== kestrel export demo/demo.unity3d"
build/kestrel export demo/demo.unity3d
echo "== files written"
find demo/Unity_Assets_Files -type f -printf '%10s  %p\n' | sort -k2
echo "== edit dialogue.txt, then kestrel import demo/demo.unity3d"
printf ' A line added by the demo.' >> demo/Unity_Assets_Files/demo/CAB-demo/dialogue.txt
build/kestrel import demo/demo.unity3d
echo "== kestrel list demo/demo.unity3d (dialogue.txt has grown)"
build/kestrel list demo/demo.unity3d
