#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test:
#   native    the platform-free core and the dump tool (host g++)
#   sanitize  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz      the libFuzzer targets, each for QUELLAN_FUZZ_SECONDS (60)
#   windows   the Windows programs and their tests under Wine
# then the release archive as scripts/package.sh writes it, and finally the
# static checks. Warnings are errors throughout.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

presets=(native sanitize fuzz windows)
failed=()

# Wine and the virtual display started for the tests are stopped on the way out.
trap 'scripts/wine.sh --prefix=build/windows/wineprefix --shutdown' EXIT

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DQUELLAN_WARNINGS_AS_ERRORS=ON \
        -DQUELLAN_FUZZ_SECONDS="${QUELLAN_FUZZ_SECONDS:-60}" >/dev/null
  if ! cmake --build --preset "$preset"; then
    failed+=("$preset build")
    continue
  fi
  echo "== $preset: test"
  ctest --preset "$preset" -j "$(nproc)" || failed+=("$preset tests")
done

echo "== release archive"
bash scripts/package.sh >/dev/null 2>&1 || failed+=("release archive (bash scripts/package.sh)")

echo "== static analysis"
bash scripts/static-analysis.sh || failed+=("static analysis")

if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "All builds, tests and checks passed."
