#!/usr/bin/env bash
# Times whole commands side by side on the same A4 page (2481 x 3507, true colour, text on noisy
# off-white): ImageMagick's Floyd-Steinberg monochrome and libjpeg-turbo's cjpeg against the
# same work done by the image library (read the file, convert, write the result).
# Usage: bench/compare_imaging.sh [build folder]   (needs imagemagick and libjpeg-turbo-progs)
set -euo pipefail
build=${1:-build}
bench="$build/bench_imaging"
runs=${RUNS:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# The real ImageMagick, not a wrapper earlier in PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=$(command -v convert)

LUMIPAGE_BENCH_SAVE_PAGE="$dir" "$bench" >/dev/null

# Best wall time of $runs runs, in milliseconds.
best_ms() {
  local best=""
  for _ in $(seq "$runs"); do
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local end=$EPOCHREALTIME
    local ms
    ms=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')
    if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
  done
  echo "$best"
}

# Our figures: minimum real time per iteration of the whole-command benchmarks.
ours=$(LUMIPAGE_BENCH_PAGE="$dir/page.bmp" "$bench" \
  --benchmark_filter='BM_CommandDitherFile|BM_CommandJpegFile' \
  --benchmark_repetitions="$runs" --benchmark_min_time=0 --benchmark_format=csv 2>/dev/null |
  awk -F, 'NR > 1 && $1 !~ /_(mean|median|stddev|cv)"?$/ {
             gsub(/"/, "", $1); sub(/\/repeats:[0-9]+/, "", $1);
             if (!($1 in best) || $3 < best[$1]) best[$1] = $3 }
           END { for (k in best) printf "%s %.1f\n", k, best[k] }')
our() { echo "$ours" | awk -v k="$1" '$1 == k { print $2 }'; }

im=$(best_ms env MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 "$convert" "$dir/page.bmp" -dither FloydSteinberg -monochrome "$dir/im.bmp")
cj=$(best_ms cjpeg -quality 85 -outfile "$dir/cj.jpg" "$dir/page.ppm")
cjg=$(best_ms cjpeg -quality 85 -outfile "$dir/cjg.jpg" "$dir/page_gray.pgm")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-44s %10s %10s %8s\n' "whole command (best of $runs, ms)" "other" "lumipage" "ratio"
printf '%-44s %10s %10s %8s\n' "Floyd-Steinberg to black and white" "$im" "$(our BM_CommandDitherFile)" \
  "$(ratio "$im" "$(our BM_CommandDitherFile)")x"
printf '%-44s %10s %10s %8s\n' "JPEG q85 true colour (cjpeg / ours)" "$cj" "$(our BM_CommandJpegFile/grey:0)" \
  "$(ratio "$(our BM_CommandJpegFile/grey:0)" "$cj")x"
printf '%-44s %10s %10s %8s\n' "JPEG q85 grey (cjpeg / ours)" "$cjg" "$(our BM_CommandJpegFile/grey:1)" \
  "$(ratio "$(our BM_CommandJpegFile/grey:1)" "$cjg")x"
echo "ratio: ImageMagick time / ours for the dither; ours / cjpeg for JPEG"
