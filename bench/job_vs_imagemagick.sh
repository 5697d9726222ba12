#!/usr/bin/env bash
# Times whole jobs of the program against the equivalent ImageMagick command lines on the same pages:
# 20 A4 pages at 300 dpi, true colour, text on noisy off-white, delivered by the virtual scanner from a
# folder of page files. Single thread on both sides. Also reports peak memory of 1- and 20-page jobs.
#   bash bench/job_vs_imagemagick.sh [build-folder] [pages]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
pages=${2:-20}
. "$(dirname "$0")/common.sh"
prepare_program "$build"
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

mkdir -p "$work/pages" "$work/one" "$work/im"
echo "making $pages pages of 2481 x 3508 at 300 dpi..."
draw_statement_page "$work/page.bmp"
for i in $(seq -w 1 "$pages"); do cp "$work/page.bmp" "$work/pages/p$i.bmp"; done
cp "$work/page.bmp" "$work/one/p1.bmp"

config() { page_folder_scanner "$1"; }

run_job() { time_job "$@"; }
run_im() {  # extra convert args...; prints seconds
  local t0 t1 f
  t0=$(now)
  for f in "$work"/pages/*.bmp; do convert "$f" "$@" "$work/im/$(basename "$f" .bmp).${OUT_EXT}"; done
  t1=$(now)
  elapsed "$t0" "$t1"
}

config "$work/pages"
echo
echo "case                          lumipage s   ImageMagick s   ratio"
ours=$(run_job jpg A4 jpg_quality 85)
theirs=$(OUT_EXT=jpg run_im -crop 2481x3507+0+0 -quality 85)
printf '%-30s %10.2f   %13.2f   %5.2fx\n' "jpg A4 quality 85 ($pages pages)" "$ours" "$theirs" "$(awk -v a="$theirs" -v b="$ours" 'BEGIN { print a / b }')"
ours=$(run_job tif Mono MonoEnhance A4)
theirs=$(OUT_EXT=tif run_im -crop 2481x3507+0+0 -dither FloydSteinberg -monochrome -compress Group4)
printf '%-30s %10.2f   %13.2f   %5.2fx\n' "tif Mono MonoEnhance A4" "$ours" "$theirs" "$(awk -v a="$theirs" -v b="$ours" 'BEGIN { print a / b }')"

peak() {  # folder; prints peak resident KiB of a jpg job
  config "$1"
  LUMIPAGE_SYSTEM_DIR="$work/sys/" /usr/bin/time -f %M "$work/exe/lumipage" jpg 2>&1 >/dev/null | tail -1
}
p1=$(peak "$work/one")
pn=$(peak "$work/pages")
echo
echo "peak memory, jpg job: 1 page ${p1} KiB, $pages pages ${pn} KiB ($(awk -v a="$pn" -v b="$p1" 'BEGIN { printf "%.1f", 100 * a / b - 100 }')% more)"
