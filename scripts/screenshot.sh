#!/usr/bin/env bash
# Starts the Kestrel window under a virtual X display (Xvfb) on the demo archive, selects the
# first row of the filled list (a DXT5 texture, shown in the preview pane), saves a PNG screenshot
# of the window and prints its path. The window speaks the language of LANG. Given a game folder
# (or an archive) after the picture's name, the window opens that instead; a folder opens as a
# game, its archives listed in the drop-down, which the picture shows open.
# Usage: [LANG=ru_RU.UTF-8] scripts/screenshot.sh [output.png [FOLDER|ARCHIVE]]
#        (default: /tmp/kestrel-window.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-/tmp/kestrel-window.png}")"
input="${2:+$(realpath -m "$2")}"
bash scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target kestrel kestrel-window kestrel_make_demo >/dev/null

work="$(mktemp -d)"
display=":$((90 + RANDOM % 100))"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "$input" ]; then
  build/kestrel_make_demo "$work/demo.unity3d" >/dev/null
  input="$work/demo.unity3d"
fi
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The window program itself takes a folder too.
QT_QPA_PLATFORM=xcb LANG="${LANG:-C.UTF-8}" build/kestrel-window "$input" >/dev/null 2>&1 &
app=$!
win=""
for _ in $(seq 100); do
  win="$(xdotool search --name '^Kestrel' 2>/dev/null | head -1 || true)"
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 1.5 # the archive opens and the progress frame fades back

# Click the first row of the list: below the menu bar, the top area and the header; the preview
# decodes it.
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --window "$win" 200 110 click 1
sleep 1
if [ -d "$input" ]; then
  # The drop-down of the folder's archives, opened: the top area's right half.
  xdotool mousemove --window "$win" 650 36 click 1
  sleep 0.5
  # The open list is a window of its own: the screen is taken where the window lies.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$out"
else
  import -window "$win" "$out"
fi
echo "$out"
