#!/usr/bin/env bash
# Runs every benchmark folder's run.sh with the build folder as argument.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in "$here"/*/run.sh; do
  [ -e "$script" ] || continue
  echo "=== $(basename "$(dirname "$script")")"
  bash "$script" "$build" || status=1
done
exit $status
