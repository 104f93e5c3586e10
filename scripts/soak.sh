#!/usr/bin/env bash
# The long soak: 500 dumps in a row through the real window (CI runs 50).
# Handles, GDI objects and windows must stay flat from the 10th run on, and
# private bytes grow by less than 1 MiB.
#
#   scripts/soak.sh [RUNS]     default 500
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target e2e_tests >/dev/null
QUELLAN_SOAK_RUNS=${1:-500} scripts/wine.sh --prefix=build/windows/wineprefix --unmanaged \
  build/windows/bin/e2e_tests.exe --gtest_filter='Soak.*'
