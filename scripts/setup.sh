#!/usr/bin/env bash
# Installs everything Quellan's build and tests need on Debian 12:
# the native and MinGW-w64 toolchains, Wine with Xvfb, the Japanese locale
# and fonts, ImageMagick for screenshots, unzip for the release archive, the
# GoogleTest sources, and the reference tools and files tdump is checked
# against (winedump, wrestool, file; Wine's NE fonts and loadlin's DOS
# program).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64
  xvfb xauth
  locales fonts-ipafont-gothic fonts-ipafont-mincho
  imagemagick
  googletest
  clang libclang-rt-14-dev clang-tidy clang-format cppcheck llvm lld nasm
  xxd python3 unzip time
  wine64-tools icoutils file fonts-wine loadlin
)

say() { printf 'setup: %s\n' "$*"; }

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  say "not root and no sudo: cannot install packages" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q \
    --no-install-recommends "${missing[@]}" 2>&1 | grep -vE '^(Get|Selecting|Preparing|Unpacking|Setting up|Processing)' || true
  # apt-get's own exit status is hidden by the filter above; check the result.
  for p in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
      || { say "failed to install $p" >&2; exit 1; }
  done
else
  say "all packages present"
fi

# Wine's ANSI code page follows the Unix locale: ja_JP.UTF-8 gives 932, the
# tests' own; en_US.UTF-8 gives 1252, where the tests check that quoting does
# not lean on the Japanese lead bytes. Locales already there are kept.
for loc in ja_JP en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    say "generating the $loc.UTF-8 locale"
    "${as_root[@]}" sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen \
      || echo "$loc.UTF-8 UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    "${as_root[@]}" locale-gen --keep-existing >/dev/null
  else
    say "locale $loc.UTF-8 present"
  fi
done

say "ready"
