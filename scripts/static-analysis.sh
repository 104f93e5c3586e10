#!/usr/bin/env bash
# Static checks over the project's own code: formatting (clang-format),
# clang-tidy (.clang-tidy) and cppcheck. Needs the native and windows build
# folders configured (they hold the compilation databases). Exits non-zero
# on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
status=0

own_sources() {
  git ls-files -- 'command/*' 'process/*' 'ui/*' 'tests/*' 'tdump/*' 'tools/*' 'bench/*' \
    | grep -E '\.(cpp|h)$'
}

echo "== clang-format"
if ! own_sources | xargs clang-format --dry-run --Werror; then
  echo "clang-format: run 'clang-format -i' on the files above"
  status=1
fi

# The cross build's database names the MinGW g++; clang-tidy needs clang
# with the same target and the same library headers. Clang cannot compile
# literals to code page 932, so that flag is dropped for the analysis.
tidy_db=$root/build/static-analysis
mkdir -p "$tidy_db"
mingw_cxx=x86_64-w64-mingw32-g++-posix
mapfile -t mingw_includes < <(echo | $mingw_cxx -E -x c++ -std=c++20 - -v 2>&1 \
  | sed -n '/#include <...> search starts here/,/End of search list/p' | grep '^ ' \
  | grep -vE '/lib/gcc/.*/include(-fixed)?$')  # clang brings its own intrinsics
python3 - "$root" "$tidy_db" "${mingw_includes[@]}" <<'PY'
import json, re, sys
root, out, includes = sys.argv[1], sys.argv[2], [i.strip() for i in sys.argv[3:]]
entries = []
for preset, cross in (("native", False), ("windows", True)):
    for e in json.load(open(f"{root}/build/{preset}/compile_commands.json")):
        if "/googletest/" in e["file"] or "/build/" in e["file"] or not e["file"].endswith(".cpp"):
            continue
        cmd = e["command"].replace("-fexec-charset=CP932", "").replace("-finput-charset=UTF-8", "")
        if cross:
            extra = " ".join(f"-isystem {i}" for i in includes)
            cmd = re.sub(r"^\S*x86_64-w64-mingw32-g\+\+-posix",
                         f"clang++ --target=x86_64-w64-mingw32 -nostdinc++ {extra}", cmd)
        else:
            cmd = re.sub(r"^\S+", "clang++", cmd)
        e["command"] = cmd
        entries.append(e)
json.dump(entries, open(f"{out}/compile_commands.json", "w"), indent=1)
PY

echo "== clang-tidy"
files=$(python3 -c "import json;print('\n'.join(sorted({e['file'] for e in json.load(open('$tidy_db/compile_commands.json'))})))")
if ! echo "$files" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$tidy_db" --quiet 2>/dev/null; then
  status=1
fi

echo "== cppcheck"
if ! cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ \
     --enable=warning,performance,portability --inline-suppr \
     --suppress=missingIncludeSystem --library=googletest --library=windows -D_WIN32 -DWIN32 \
     -I command -I process -I ui -I tests/support -I tdump/src \
     command process ui bench tests/support tests/recorder tests/process tests/ui tests/e2e tests/fuzz tdump tools; then
  status=1
fi

[ $status -eq 0 ] && echo "static analysis: clean"
exit $status
