#!/usr/bin/env bash
# Runs gwhost.exe, the cross-process test of glidewheel.dll, under Wine: in a
# Wine prefix of its own (removed afterwards) on a virtual display of its own.
# Usage: run-under-wine.sh DIR    (DIR holds glidewheel.dll and gwhost.exe)
set -euo pipefail
if [ $# -ne 1 ] || [ "$1" = --help ]; then
  echo "usage: $0 DIR   (DIR holds glidewheel.dll and gwhost.exe)"
  [ "${1:-}" = --help ] && exit 0 || exit 2
fi
dir=$(cd "$1" && pwd)
prefix=$(mktemp -d "${TMPDIR:-/tmp}/glidewheel-wine.XXXXXX")
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all GWDIR=$dir
# No Mono or Gecko installers, no menu entries, and no debugger, so that a
# crash ends the program instead of opening a dialog nobody answers.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

start=$(date +%s)
timeout -k 5 150 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
  wineboot -i >/dev/null 2>&1 || true
  wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || true
  echo "wine prefix ready after $(( $(date +%s) - '"$start"' )) s"
  wine "$GWDIR/gwhost.exe"
'
echo "done after $(( $(date +%s) - start )) s"
