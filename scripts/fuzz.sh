#!/usr/bin/env bash
# The longer fuzzing run: every libFuzzer target for SECONDS each (CI runs
# them for 60). A crash leaves its input in build/fuzz/<target>.work/; copy
# it into the target's corpus folder as a regression seed once fixed.
#
#   scripts/fuzz.sh [SECONDS]     default 900
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset fuzz -DQUELLAN_FUZZ_SECONDS="${1:-900}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
