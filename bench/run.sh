#!/usr/bin/env bash
# Runs every benchmark folder's run.sh with the build folder as argument.
# FW_BENCH_ONLY=NAME, when NAME is a benchmark folder (preview, capture,
# convert, scrub, jobs), runs that folder's alone; any other value is left to
# the folders' own row choices (bench/convert: web, copy).
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
only=${FW_BENCH_ONLY:-}
status=0
for script in "$here"/*/run.sh; do
  [ -e "$script" ] || continue
  name=$(basename "$(dirname "$script")")
  if [ -n "$only" ] && [ -f "$here/$only/run.sh" ] && [ "$name" != "$only" ]; then continue; fi
  echo "=== $name"
  bash "$script" "$build" || status=1
done
exit $status
