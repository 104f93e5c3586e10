#!/usr/bin/env bash
# Prints Quellan's performance figures as one table: start-up, footprint,
# the dump round trip (each beside its reference measured in the same run),
# the executable's size and imports, and the dump tool against xxd,
# objdump and llvm-readobj. Builds what it needs first. Figures are medians; the machine's
# other load shows in them, so compare the ratios, not the absolute times.
#
#   scripts/bench.sh [ROUNDS] [ROUND-TRIPS]     defaults: 10 50
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-10}
runs=${2:-50}

bash scripts/setup.sh >/dev/null
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

build=$root/build/windows
results=$(mktemp)
trap 'rm -f "$results"; scripts/wine.sh --prefix="$build/wineprefix" --shutdown' EXIT

echo "Quellan benchmark, $(date -u '+%Y-%m-%d'), $(nproc) cores, $(wine --version)"
echo
"$root/scripts/wine.sh" --prefix="$build/wineprefix" --unmanaged "$build/bin/quellan_bench.exe" \
  "Z:$results" "$rounds" "$runs"
tr -d '\r' < "$results" | column -t -s $'\t'

exe=$build/bin/Quellan.exe
echo
printf 'Quellan.exe: %d KiB; imports: %s\n' $(( $(stat -c %s "$exe") / 1024 )) \
  "$("$root/build/native/bin/tdump" -em. "$exe" | grep -ioE '[a-z0-9_]+\.(dll|drv)' | sort -fu | paste -sd' ')"
echo
bash scripts/bench-tdump.sh
