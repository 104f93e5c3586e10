#!/usr/bin/env bash
# Sets up what is missing, builds the release archive, unpacks it as a
# Windows user would and starts Quellan.exe from the unpacked folder under
# Wine. With a display (DISPLAY set) the window opens there and the command
# returns when it is closed. Without one, Quellan starts on a virtual
# display, a screenshot of its window (frame and title bar included) is
# saved, and it is closed again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

archive=$(bash scripts/package.sh | tail -n 1)

# Unpacked afresh each time, so the folder is exactly the archive.
run=$root/build/run
rm -rf "$run"
mkdir -p "$run"
unzip -q "$archive" -d "$run"
folder=$(find "$run" -mindepth 1 -maxdepth 1 -type d -name 'Quellan-*')
cd "$folder"

if [ -n "${DISPLAY:-}" ]; then
  echo "Starting $folder/Quellan.exe on $DISPLAY"
  exec "$root/scripts/wine.sh" "--prefix=$root/build/release/wineprefix-desktop" Quellan.exe
fi

# No window manager here: Wine draws the frames itself (--unmanaged), as a
# desktop shows them.
wine=("$root/scripts/wine.sh" "--prefix=$root/build/release/wineprefix-headless" --unmanaged)
"${wine[@]}" --prepare
"${wine[@]}" Quellan.exe &
quellan=$!
sleep 8
shot=$root/build/release/screenshots/run.png
mkdir -p "$(dirname "$shot")"
# The desktop is black around the window; trimming leaves the window.
DISPLAY=$(cut -d' ' -f1 "$root/build/release/xvfb.display") import -window root -trim +repage "$shot"
"${wine[@]}" --shutdown
wait "$quellan" 2>/dev/null || true
echo "No display here: Quellan ran on a virtual display; screenshot saved to $shot"
echo "Set DISPLAY (or run on a desktop) to use the window."
