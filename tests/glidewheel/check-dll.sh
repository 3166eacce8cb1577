#!/usr/bin/env bash
# Checks a built glidewheel.dll from the file itself: its machine, the eight
# exports by their plain names (no leading underscore, no @N), the shared
# data section that all hooked processes see, and that it needs nothing but
# system DLLs.
# Usage: check-dll.sh OBJDUMP DLL FORMAT    (FORMAT: pei-x86-64 or pei-i386)
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 OBJDUMP DLL FORMAT" >&2
  exit 2
fi
objdump=$1 dll=$2 format=$3
fail=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    echo "  expected: $2"
    echo "  actual:   $3"
    fail=1
  fi
}

headers=$("$objdump" -h "$dll")
private=$("$objdump" -p "$dll")

check "file format" "$format" "$(sed -n 's/.*file format \(.*\)/\1/p' <<<"$headers" | head -1)"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[[:space:]]*\[/ {print $NF; next}
               on {exit}' <<<"$private" | sort | tr '\n' ' ')
check "exports" "CaptureCustomCursor ClearCaptureCustomCursor InstallScrollHooks SetCustomCursor \
UninstallScrollHooks setZoomBtnsWindow trackPaintMessage wasThereAPaintMessage " "$exports"

# The flags line follows the section's line.
flags=$(awk '$2 == ".gwshare" {getline; print; exit}' <<<"$headers" | tr -d ' ')
shared=no
if [[ ",$flags," == *,DATA,* && ",$flags," == *,SHARED,* && ",$flags," != *,READONLY,* ]]; then
  shared=yes
fi
check "section .gwshare writable shared data [$flags]" yes "$shared"

imports=$(sed -n 's/.*DLL Name: //p' <<<"$private" | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
check "imports only system DLLs" "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " "$imports"
exit $fail
