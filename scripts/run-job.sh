#!/usr/bin/env bash
# Runs one job with the built program, then shows the report and where the output went.
set -uo pipefail
build=$1; shift
"$build/lumipage" "$@"
echo "exit code: $?"
report="$build/lp_done.dat"
if [ -f "$report" ]; then
  echo "--- report $report"
  cat "$report"
fi
