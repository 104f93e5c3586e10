#!/usr/bin/env bash
# Sets up what is missing, builds the Windows program and starts it under
# Wine: on your display when there is one, otherwise on a virtual display,
# from which a screenshot is saved.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

exe=build/windows/ui/Quellan.exe
if [ ! -f "$exe" ]; then
  echo "Built the dump command core; the Quellan window arrives in a later version."
  exit 0
fi
