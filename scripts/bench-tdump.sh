#!/usr/bin/env bash
# Times tdump against the usual tools, side by side in one run:
#   - hex display of a 64 MiB random file: tdump -h against xxd
#   - export and import listings of a large DLL: tdump -ee plus tdump -em
#     against x86_64-w64-mingw32-objdump -p (which prints both and more)
#   - the whole executable display of the DLL: tdump -e (headers, sections,
#     exports, imports, debug directory, relocation blocks, resources, TLS,
#     load configuration, exception table with unwind information,
#     certificates, overlay) against llvm-readobj --all
#   - a program database: a program of 3000 classes and functions built by
#     clang (MSVC mode) and lld-link, its PDB (about 1.8 MB) listed by tdump
#     against llvm-pdbutil dump -all, with the peak memory of each
#   - the DWARF debug information of the DLL (Wine's shell32.dll holds
#     megabytes of it): the whole debug display, tdump -d (units and entries,
#     line programs, address and range lists, locations, call frames), against
#     llvm-dwarfdump --debug-info --debug-line, with the peak memory of each
# Each command runs 5 times, the two alternating, with its output going to a
# file; the table shows the medians and how many times faster tdump is.
# Builds nothing: expects build/native (cmake --preset native && cmake --build --preset native).
#
#   scripts/bench-tdump.sh [DLL]     default: Wine's shell32.dll (a few hundred exports
#                                    and imports), else the largest DLL of the Wine install
set -euo pipefail
cd "$(dirname "$0")/.."

tdump=${TDUMP:-build/native/bin/tdump}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
readobj=${READOBJ:-llvm-readobj}
runs=5
[ -x "$tdump" ] || { echo "bench-tdump: $tdump not found; build the native preset first" >&2; exit 1; }
command -v xxd >/dev/null || { echo "bench-tdump: xxd not found" >&2; exit 1; }
command -v "$objdump" >/dev/null || { echo "bench-tdump: $objdump not found" >&2; exit 1; }
command -v "$readobj" >/dev/null || { echo "bench-tdump: $readobj not found" >&2; exit 1; }
pdbutil=${PDBUTIL:-llvm-pdbutil}
dwarfdump=${DWARFDUMP:-llvm-dwarfdump}
for tool in clang++ lld-link "$pdbutil" "$dwarfdump"; do
  command -v "$tool" >/dev/null || { echo "bench-tdump: $tool not found" >&2; exit 1; }
done

wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
dll=${1:-$wine_dlls/shell32.dll}
if [ ! -f "$dll" ] && [ $# -eq 0 ]; then
  dll=$(ls -S "$wine_dlls"/*.dll 2>/dev/null | head -n 1 || true)
fi
[ -f "$dll" ] || { echo "bench-tdump: no DLL to list (pass one)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/random.bin"

# The program database: many classes with virtual functions and many
# functions, so that every stream (modules, symbols, lines, types, ids,
# globals, publics) is large.
python3 - "$work/big.cpp" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(3000):
        f.write(f"struct S{i} {{ int a{i}; double b; S{i}* next; "
                f"virtual int f(int x) {{ return x + a{i}; }} }};\n")
        f.write(f"int func{i}(S{i}* s, int k) {{ int t = 0; "
                f"for (int j = 0; j < k; ++j) {{ t += s->f(j); }} return t + {i}; }}\n")
    f.write('extern "C" int start() { return 0; }\n')
PY
clang++ --target=x86_64-pc-windows-msvc -g -gcodeview -O1 -fno-exceptions -c "$work/big.cpp" \
  -o "$work/big.obj"
lld-link /entry:start /subsystem:console /nodefaultlib /debug /pdb:"$work/big.pdb" \
  /out:"$work/big.exe" "$work/big.obj" >/dev/null
# Peak resident memory of a command, in KiB, its output to a file.
peak_kib() { /usr/bin/time -f %M -o "$work/peak" "$@" > "$work/out" 2>/dev/null; cat "$work/peak"; }
# "peak memory <task>: tdump ... KiB, <tool> ... KiB": tdump run with the
# arguments before "--", the reference command after it.
peak_row() {
  local task=$1 switches=()
  shift
  while [ "$1" != -- ]; do switches+=("$1"); shift; done
  shift
  echo "peak memory $task: tdump $(peak_kib "$tdump" "${switches[@]}") KiB," \
    "$(basename "$1") $(peak_kib "$@") KiB"
}

# Seconds (with milliseconds) that the command takes, its output to a file.
# The previous output is deleted first, outside the timing: truncating a
# 300 MB file costs a good part of a second.
seconds() {
  local start end
  rm -f "$work/out" "$work/out.ee"
  start=$(date +%s%N)
  "$@" > "$work/out" 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

listings() { "$tdump" -ee "$dll" > "$work/out.ee" && "$tdump" -em "$dll"; }

declare -a hex_tdump hex_xxd list_tdump list_objdump exe_tdump exe_readobj pdb_tdump pdb_llvm \
  dwarf_tdump dwarf_llvm
for ((i = 0; i < runs; i++)); do
  hex_tdump+=("$(seconds "$tdump" -h "$work/random.bin")")
  hex_xxd+=("$(seconds xxd "$work/random.bin")")
  list_tdump+=("$(seconds listings)")
  list_objdump+=("$(seconds "$objdump" -p "$dll")")
  exe_tdump+=("$(seconds "$tdump" -e "$dll")")
  exe_readobj+=("$(seconds "$readobj" --all "$dll")")
  pdb_tdump+=("$(seconds "$tdump" "$work/big.pdb")")
  pdb_llvm+=("$(seconds "$pdbutil" dump -all "$work/big.pdb")")
  dwarf_tdump+=("$(seconds "$tdump" -d "$dll")")
  dwarf_llvm+=("$(seconds "$dwarfdump" --debug-info --debug-line "$dll")")
done

row() {
  local name=$1 mine=$2 theirs=$3 reference=$4
  awk -v n="$name" -v m="$mine" -v t="$theirs" -v r="$reference" \
    'BEGIN { printf "%-34s %10.3f s %10.3f s  %-28s %6.1fx\n", n, m, t, r, (m > 0 ? t / m : 0) }'
}
echo "tdump benchmark: medians of $runs runs, output to a file"
echo "DLL: $dll ($(stat -c %s "$dll") bytes)"
printf '%-34s %12s %12s  %-28s %7s\n' task tdump reference "(reference tool)" faster
row "hex display, 64 MiB random" \
  "$(printf '%s\n' "${hex_tdump[@]}" | median)" "$(printf '%s\n' "${hex_xxd[@]}" | median)" "xxd"
row "exports + imports of the DLL" \
  "$(printf '%s\n' "${list_tdump[@]}" | median)" "$(printf '%s\n' "${list_objdump[@]}" | median)" \
  "$(basename "$objdump") -p"
row "executable display of the DLL" \
  "$(printf '%s\n' "${exe_tdump[@]}" | median)" "$(printf '%s\n' "${exe_readobj[@]}" | median)" \
  "$(basename "$readobj") --all"
row "program database ($(( $(stat -c %s "$work/big.pdb") / 1024 )) KiB)" \
  "$(printf '%s\n' "${pdb_tdump[@]}" | median)" "$(printf '%s\n' "${pdb_llvm[@]}" | median)" \
  "$(basename "$pdbutil") dump -all"
row "DWARF of the DLL (tdump -d)" \
  "$(printf '%s\n' "${dwarf_tdump[@]}" | median)" "$(printf '%s\n' "${dwarf_llvm[@]}" | median)" \
  "$(basename "$dwarfdump") info+line"
peak_row "listing the program database" "$work/big.pdb" -- "$pdbutil" dump -all "$work/big.pdb"
peak_row "listing the DLL's DWARF" -d "$dll" -- "$dwarfdump" --debug-info --debug-line "$dll"
