#!/usr/bin/env bash
# Runs a Windows program under Wine the way Quellan is tested: a private
# prefix inside the build folder, the Japanese locale (so the ANSI code page
# is 932; QUELLAN_WINE_LOCALE names another, e.g. en_US.UTF-8 for 1252, and
# the program's children inherit it), no debug chatter, no Mono/Gecko
# installers, no crash dialog, and a virtual X display when there is none.
#
#   wine.sh [--prefix=DIR] [--dpi=N] [--unmanaged] PROGRAM [ARGS...]   run PROGRAM
#   wine.sh [--prefix=DIR] [--dpi=N] --prepare           create the prefix only
#   wine.sh [--prefix=DIR] --shutdown                    stop Wine and our Xvfb
#
# --unmanaged makes Wine manage the windows itself (for tests on a bare X
# server); it is fixed when the prefix is prepared.
# --dpi=N uses a sibling prefix whose screen reports N pixels per inch; the
# resolution is read at process start, so it cannot be changed under tests
# that run in parallel in one prefix.
set -euo pipefail

prefix=${QUELLAN_WINEPREFIX:-}
dpi=
unmanaged=
action=run
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --dpi=*) dpi=${1#--dpi=}; shift ;;
    --unmanaged) unmanaged=1; shift ;;
    --prepare) action=prepare; shift ;;
    --shutdown) action=shutdown; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ]; then
  prefix=$(cd "$(dirname "$0")/.." && pwd)/build/windows/wineprefix
fi
[ -n "$dpi" ] && prefix=$prefix-dpi$dpi
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=${QUELLAN_WINE_LOCALE:-ja_JP.UTF-8}
export LC_ALL=$LANG

state=$prefix.state
mkdir -p "$state"

# One virtual display per prefix family, shared by every test that runs in it.
xvfb_display() {
  local file=$state/../xvfb.display pid
  if [ -s "$file" ]; then
    read -r display pid < "$file"
    if kill -0 "$pid" 2>/dev/null; then echo "$display"; return; fi
  fi
  local fifo; fifo=$(mktemp -u) && mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -nolisten unix \
       >/dev/null 2>&1 3>"$fifo" &
  pid=$!
  read -r display < "$fifo"; rm -f "$fifo"
  echo ":$display $pid" > "$file"
  echo ":$display"
}

if [ "$action" = shutdown ]; then
  wineserver -k 2>/dev/null || true
  for f in "$state/../xvfb.display"; do
    [ -s "$f" ] && { read -r _ pid < "$f"; kill "$pid" 2>/dev/null || true; rm -f "$f"; }
  done
  exit 0
fi

# Everything below runs under one lock, so parallel callers never race on the
# creation of the prefix or of the display.
exec 9>"$state/../wine.lock"
flock 9
if [ -z "${DISPLAY:-}" ] || [ -n "${QUELLAN_XVFB:-}" ]; then
  DISPLAY=$(xvfb_display)
  export DISPLAY
fi
# Bump when the settings below change, so existing prefixes pick them up.
settings=4
if [ ! -e "$state/ready-$settings" ]; then
  echo "wine.sh: preparing Wine prefix $prefix${dpi:+ ($dpi dpi)}" >&2
  [ -e "$prefix/system.reg" ] || wineboot --init >/dev/null 2>&1 || true
  reg() { wine reg add "$@" /f >/dev/null 2>&1; }
  # A crash must end the test, not wait for a click on a dialog.
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  # The Japanese system faces are not installed; draw them with the IPA
  # faces of the same kind (proportional, gothic or serif).
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐ明朝' /t REG_SZ /d IPAPMincho
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /t REG_SZ /d IPAGothic
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ 明朝' /t REG_SZ /d IPAMincho
  if [ -n "$unmanaged" ]; then
    # Test prefixes: no window manager is asked about any window, so one
    # that is hidden or closed goes at once instead of after a wait for an
    # answer that never comes on a bare X server.
    reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
  fi
  if [ -n "$dpi" ]; then
    reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
  fi
  wineserver -w
  rm -f "$state"/ready*
  touch "$state/ready-$settings"
fi
flock -u 9
exec 9>&-

if [ "$action" = prepare ]; then
  # Start Wine's session now (the server, kept until --shutdown, with
  # services.exe and the desktop), so that no test's program is the one
  # that starts it: its processes would count among that program's own.
  wineserver -p 2>/dev/null || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  exit 0
fi

# Wine's own long-lived processes (the server, services.exe, the desktop)
# start with the standard handles of whichever program first needs them.
# Handing wine files instead of our pipes keeps them from holding a test
# runner's pipe open after the test has ended.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
wine "$@" >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit $status
