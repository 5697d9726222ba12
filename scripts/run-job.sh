#!/usr/bin/env bash
# Runs one job with the built program, then shows the report and the files the job wrote.
set -uo pipefail
build=$1; shift
marker=$(mktemp)
"$build/lumipage" "$@"
echo "lumipage $* -> exit code $?"

# The report: beside the output file with "Indicator 2", else lp_done.dat beside the program.
report="$build/lp_done.dat"
prev=""; indicator=""; filename=""
for a in "$@"; do
  case "${prev,,}" in
    indicator) indicator=$a ;;
    filename) filename=$a ;;
  esac
  prev=$a
done
if [ "$indicator" = "2" ] && [ -n "$filename" ]; then
  case "$filename" in */*) ;; *) filename="$build/$filename" ;; esac
  report="${filename%.*}.dat"
fi
if [ -f "$report" ]; then
  echo "--- report: $report"
  cat "$report"; echo
else
  echo "--- no report file"
fi

echo "--- files written by this job:"
dirs=("$build")
[ -n "$filename" ] && dirs+=("$(dirname "$filename")")
find "${dirs[@]}" -maxdepth 1 -type f -newer "$marker" \
  \( -name '*.jpg' -o -name '*.bmp' -o -name '*.tif' -o -name '*.pdf' \) -printf '%p  (%s bytes)\n' | sort -u
rm -f "$marker"
