#!/usr/bin/env bash
# Sets up what is missing, builds the Release programs and writes the
# archive a Windows user downloads:
#   build/package/Quellan-<version>-win64.zip
# Its path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release >&2
cpack --preset release >&2

version=$(sed -n 's/^#define QUELLAN_FILE_VERSION_TEXT "\(.*\)"$/\1/p' resources/resources.h)
archive=$PWD/build/package/Quellan-$version-win64.zip
[ -s "$archive" ] || { echo "package.sh: $archive was not written" >&2; exit 1; }
unzip -l "$archive" >&2
echo "$archive"
