#!/usr/bin/env bash
# What a page costs beyond its codec: whole jobs that take A4 pages at 300 dpi (2481 x 3508, true
# colour, text on noisy off-white) from a folder of page files, against the codec tools doing the
# same to the same pixels. Runs ours and the peer alternately and prints the ratio of medians.
# Our job flushes its files before it writes the report, so each peer is timed twice: as it is,
# and followed by `sync -f` of its output (the like-for-like figure).
#  1. page file to JPEG (quality 85) against `cjpeg -quality 85`;
#  2. page file to a black-and-white G4 TIFF (`tif Mono`) against `tiff2bw` + `tiffdither -c g4`;
#  3. peak resident memory of a one-page job against the page's pixel bytes plus 16 MB;
#  4. time per page of a 20-page job against a one-page job.
#   bash bench/page_cost.sh [build-folder] [runs]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-9}
. "$(dirname "$0")/common.sh"
prepare_program "$build"

mkdir -p "$work/one" "$work/twenty" "$work/peer"
draw_statement_page "$work/one/page.bmp"
for i in $(seq -w 1 20); do cp "$work/one/page.bmp" "$work/twenty/p$i.bmp"; done
# The same pixels for the peers: PPM for cjpeg, an uncompressed RGB TIFF for the libtiff chain.
convert "$work/one/page.bmp" "$work/peer/page.ppm"
convert "$work/one/page.bmp" -compress none -type TrueColor "$work/peer/page.tif"

config() { page_folder_scanner "$1" '[Sane]\nEnabled=0\n'; }

ours() { time_job "$@"; }
peer() {  # flush (0/1), output file, shell command
  local t0 t1
  t0=$(now)
  bash -c "$3"
  [ "$1" = 1 ] && sync -f "$2"
  t1=$(now)
  elapsed "$t0" "$t1"
}
compare() {  # label, peer output, peer command, job arguments...
  local label=$1 out=$2 cmd=$3; shift 3
  : > "$work/o.txt"; : > "$work/p.txt"; : > "$work/f.txt"
  for _ in $(seq "$runs"); do
    ours "$@" >> "$work/o.txt"
    peer 0 "$out" "$cmd" >> "$work/p.txt"
    peer 1 "$out" "$cmd" >> "$work/f.txt"
  done
  local o p f
  o=$(median < "$work/o.txt"); p=$(median < "$work/p.txt"); f=$(median < "$work/f.txt")
  printf '%-24s ours %.3f s | peer %.3f s, ratio %s | peer + sync %.3f s, ratio %s\n' \
    "$label" "$o" "$p" "$(ratio "$o" "$p")" "$f" "$(ratio "$o" "$f")"
}

config "$work/one"
echo "one A4 page at 300 dpi, median of $runs runs each"
compare "page file to JPEG" "$work/peer/page.jpg" \
  "cjpeg -quality 85 -outfile '$work/peer/page.jpg' '$work/peer/page.ppm'" jpg jpg_quality 85
compare "page file to Mono TIFF" "$work/peer/bw.tif" \
  "tiff2bw '$work/peer/page.tif' '$work/peer/grey.tif' && tiffdither -c g4 '$work/peer/grey.tif' '$work/peer/bw.tif'" tif Mono

peak=$(LUMIPAGE_SYSTEM_DIR="$work/sys/" /usr/bin/time -f %M "$work/exe/lumipage" jpg 2>&1 >/dev/null | tail -1)
pixels=$((2481 * 3508 * 3))
limit=$(( (pixels * 13 / 10 + 16 * 1024 * 1024) / 1024 ))
echo "peak memory of a one-page JPEG job: ${peak} KiB; limit 1.3 x ${pixels} pixel bytes + 16 MB = ${limit} KiB"

: > "$work/1.txt"; : > "$work/20.txt"
for _ in $(seq "$runs"); do
  config "$work/one"; ours jpg >> "$work/1.txt"
  config "$work/twenty"; ours jpg >> "$work/20.txt"
done
one=$(median < "$work/1.txt"); twenty=$(median < "$work/20.txt")
per=$(awk -v t="$twenty" 'BEGIN { printf "%.4f", t / 20 }')
echo "time per page: 1-page job ${one} s, 20-page job ${per} s a page ($(awk -v a="$per" -v b="$one" 'BEGIN { printf "%+.1f", 100 * a / b - 100 }') %)"
