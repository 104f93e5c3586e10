#!/usr/bin/env bash
# Sets up what is missing, builds the Windows program and starts it under
# Wine. With a display (DISPLAY set) the window opens there and the command
# returns when it is closed. Without one, Quellan starts on a virtual
# display, a screenshot of it is saved, and it is closed again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

build=$root/build/windows
# A prefix of its own: the tests' prefix leaves window management to Wine.
wine=("$root/scripts/wine.sh" "--prefix=$build/wineprefix-run")
# The command interpreter finds tdump.exe on the path (the open-file dialog
# may move the current folder elsewhere); WINEPATH puts the folder of the
# built programs there.
export WINEPATH="Z:${build//\//\\}\\bin"
cd "$build/bin"

if [ -n "${DISPLAY:-}" ]; then
  echo "Starting Quellan on $DISPLAY"
  exec "${wine[@]}" Quellan.exe
fi

"${wine[@]}" --prepare
"${wine[@]}" Quellan.exe &
quellan=$!
sleep 8
mkdir -p "$build/screenshots"
shot=$build/screenshots/run.png
DISPLAY=$(cut -d' ' -f1 "$build/xvfb.display") import -window root -crop 920x980+0+0 "$shot"
"${wine[@]}" --shutdown
wait "$quellan" 2>/dev/null || true
echo "No display here: Quellan ran on a virtual display; screenshot saved to $shot"
echo "Set DISPLAY (or run on a desktop) to use the window."
