#!/usr/bin/env bash
# Counts the instructions the core's hook entries spend on a message the
# library does not handle: runs glidewheel_filter_bench under callgrind,
# collecting only inside GetMessageHook and CallWndRetHook, and divides by
# the number of calls.
# Usage: bench/glidewheel_filter_count.sh [BUILD_DIR]   (default: build)
set -euo pipefail
if [ "${1:-}" = --help ]; then
  echo "usage: $0 [BUILD_DIR]"
  exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bench=$build/bin/glidewheel_filter_bench
rounds=100000
calls=$((rounds * 8))
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

for entry in GetMessageHook CallWndRetHook; do
  valgrind --tool=callgrind --callgrind-out-file="$out/$entry.out" --collect-atstart=no \
    "--toggle-collect=glidewheel::$entry(*" "$bench" "$rounds" >/dev/null 2>"$out/$entry.log"
  total=$(callgrind_annotate "$out/$entry.out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
  echo "$entry: $total instructions for $calls unhandled messages = $(awk "BEGIN {printf \"%.1f\", $total / $calls}") per message"
done
