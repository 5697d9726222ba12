#!/usr/bin/env bash
# PDF assembly side by side with peer tools on the same files, in one run:
#  - 20 A4 300 dpi pages (10 true-colour JPEG, 10 Group 4 TIFF) into one PDF: lumipage's assembly
#    vs img2pdf vs copying the files' bytes into one file;
#  - one page appended to a 2,000-page PDF: lumipage vs qpdf.
#   bash bench/pdf_vs_peers.sh [build-folder]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1
mkdir -p "$work/pages"

convert -size 2481x3507 xc:'#f3efe6' -attenuate 0.35 +noise Gaussian -font Liberation-Sans -pointsize 28 \
  -fill '#202020' -annotate +150+300 'Statement of account' -units PixelsPerInch -density 300 "$work/colour.bmp"
convert "$work/colour.bmp" -quality 85 -type TrueColor "$work/colour.jpg"
convert "$work/colour.bmp" -dither FloydSteinberg -monochrome -compress Group4 "$work/mono.tif"
for i in $(seq -w 1 10); do
  cp "$work/colour.jpg" "$work/pages/p${i}a.jpg"
  cp "$work/mono.tif" "$work/pages/p${i}b.tif"
done
now() { date +%s.%N; }
span() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }

# A 2,000-page PDF from another producer.
img2pdf "$work/mono.tif" -o "$work/one.pdf"
qpdf --empty --pages $(for i in $(seq 2000); do printf '%s ' "$work/one.pdf"; done) -- "$work/big.pdf"

echo "--- lumipage (Google Benchmark, real time)"
LUMIPAGE_BENCH_PAGES="$work/pages" LUMIPAGE_BENCH_BIGPDF="$work/big.pdf" \
  "$build/bench_assembly" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E 'median|^BM_'

echo "--- peers (median of 3, ms)"
median3() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
runs=()
for r in 1 2 3; do t0=$(now); img2pdf "$work"/pages/* -o "$work/img2pdf.pdf"; t1=$(now); runs+=("$(span "$t0" "$t1")"); done
echo "img2pdf, 20 pages:                 $(median3 "${runs[@]}")"
runs=()
for r in 1 2 3; do t0=$(now); cat "$work"/pages/* > "$work/concat.bin"; sync -f "$work/concat.bin"; t1=$(now); runs+=("$(span "$t0" "$t1")"); done
echo "copying the 20 files into one:     $(median3 "${runs[@]}")"
runs=()
for r in 1 2 3; do t0=$(now); qpdf "$work/big.pdf" --pages "$work/big.pdf" "$work/one.pdf" -- "$work/qpdf-out.pdf"; t1=$(now); runs+=("$(span "$t0" "$t1")"); done
echo "qpdf, append 1 page to 2000:       $(median3 "${runs[@]}")"
