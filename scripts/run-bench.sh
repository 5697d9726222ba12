#!/usr/bin/env bash
# Runs every Google Benchmark executable of the build.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
for b in "$build"/bench_*; do
  [ -x "$b" ] && "$b"
done
