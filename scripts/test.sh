#!/usr/bin/env bash
# Sets up what is missing, builds both presets with warnings as errors and
# runs every test: the native core tests, then the Windows tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

status=0
for preset in native windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DQUELLAN_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build --preset "$preset"
done

# Wine and the virtual display started for the tests are stopped on the way out.
trap 'scripts/wine.sh --prefix=build/windows/wineprefix --shutdown' EXIT

for preset in native windows; do
  echo "== $preset: test"
  ctest --preset "$preset" -j "$(nproc)" || status=1
done
exit $status
