#!/usr/bin/env bash
# Stored size of an A4 300 dpi text page per kind of page, with and without a text layer, side
# by side with the peers' output for the same page. Two pages:
#  - dense: bench_imaging's page (noisy off-white paper, 55 lines of 10-point text, 850 words);
#  - letter: ImageMagick's rendering of 30 lines of 11-point text (270 words) on paper that
#    darkens towards the spine, with light noise, the last five lines in grey pencil.
# Per page:
#  - lumipage: `pdf` (colour JPEG 85), `pdf Mono` (dithered Group 4), `pdf Mono MonoText`
#    (thresholded Group 4), each also with `OCR eng`, and MonoText with OCR and PDFA;
#  - img2pdf of the JPEG and of ImageMagick's locally thresholded (-lat) Group 4 TIFF;
#  - ocrmypdf (its default: PDF/A) on the colour image PDF and on the -lat image PDF.
# Then how many of the page's words a downstream OCR (ocrmypdf) finds on lumipage's colour,
# dithered and MonoText images.
#   bash bench/mono_sizes_vs_peers.sh [build-folder] [pages: "dense letter"]
# (ocrmypdf takes minutes a page on a loaded machine: one page at a time keeps runs short)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1
mkdir -p "$work/dense" "$work/letter" "$work/sys" "$work/exe"

LUMIPAGE_BENCH_SAVE_PAGE="$work/dense/" "$build/bench_imaging" >/dev/null
rm -f "$work/dense"/*.pgm "$work/dense"/*.ppm "$work/dense"/page_gray.bmp
python3 - "$work" <<'PY'
import random, sys
words = ("account balance invoice payment customer delivery address order number quantity price total "
         "service contract period amount reference statement monthly annual report summary office").split()
rng = random.Random(28)
lines = [" ".join(rng.choice(words) for _ in range(9)) for _ in range(30)]
open(sys.argv[1] + "/letter-black.txt", "w").write("\n".join(lines[:25]) + "\n")
open(sys.argv[1] + "/letter-grey.txt", "w").write("\n".join(lines[25:]) + "\n")
open(sys.argv[1] + "/letter-words.txt", "w").write("\n".join(sorted(set(words))) + "\n")
PY
convert -size 3508x2480 gradient:'#f4f1e8'-'#c8c4b8' -rotate 90 -attenuate 0.2 +noise Gaussian \
  -font Liberation-Sans -pointsize 11 -density 300 -interline-spacing 28 \
  -fill '#181818' -annotate +250+300 "$(cat "$work/letter-black.txt")" \
  -fill '#a0a0a0' -annotate +250+2700 "$(cat "$work/letter-grey.txt")" \
  -units PixelsPerInch -density 300 -type TrueColor "BMP3:$work/letter/page.bmp"

cp "$build/lumipage" "$work/exe/"
cp "$build/libtwain_32.so" "$build/liblumipage_ocr.so" "$work/sys/"
job() { LUMIPAGE_SYSTEM_DIR="$work/sys/" SANE_CONFIG_DIR="$work/sys" "$work/exe/lumipage" "$@" </dev/null
        if grep -q '^\[Error\]' "$work/exe/lp_done.dat"; then cat "$work/exe/lp_done.dat" >&2; exit 1; fi; }
kb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f KB", b / 1024 }'; }
ocr() { ocrmypdf -q -l eng --tesseract-timeout 3600 "$1" "$2"; }
# The page's words that pdftotext finds in a PDF (each found word counted).
count() { pdftotext "$1" - | tr -s ' \n' '\n\n' | grep -cxFf "$2" || true; }

for page in ${2:-dense letter}; do
  printf '[Sources]\nCount=1\n[Source1]\nPageFolder=%s\n' "$work/$page" > "$work/sys/twain_32.ini"
  if [ "$page" = dense ]; then
    printf '%s\n' statement balance account payment the of and Orrinwell 1,024.50 invoice total period \
      reference date amount > "$work/dense-words.txt"
  fi
  echo "### $page page"
  echo "| Output | Size |"
  echo "|---|---|"
  for args in "pdf" "pdf OCR eng" "pdf Mono" "pdf Mono OCR eng" "pdf Mono MonoText" "pdf Mono MonoText OCR eng" \
              "pdf PDFA Mono MonoText OCR eng"; do
    name=$page-$(echo "$args" | tr ' ' '_')
    job $args filename "$work/$name.pdf"
    printf '| lumipage `%s` | %s |\n' "$args" "$(kb "$work/$name.pdf")"
  done
  convert "$work/$page/page.bmp" -quality 85 -type TrueColor "$work/$page.jpg"
  img2pdf "$work/$page.jpg" -o "$work/$page-img2pdf-jpeg.pdf"
  printf '| img2pdf, JPEG 85 | %s |\n' "$(kb "$work/$page-img2pdf-jpeg.pdf")"
  convert "$work/$page/page.bmp" -colorspace Gray -lat 50x50-10% -type Bilevel -compress Group4 \
    -units PixelsPerInch -density 300 "$work/$page-lat.tif"
  img2pdf "$work/$page-lat.tif" -o "$work/$page-img2pdf-lat.pdf"
  printf '| img2pdf, ImageMagick -lat Group 4 | %s |\n' "$(kb "$work/$page-img2pdf-lat.pdf")"
  ocr "$work/$page-pdf.pdf" "$work/$page-ocrmypdf-colour.pdf"
  printf '| ocrmypdf on the colour page (PDF/A) | %s |\n' "$(kb "$work/$page-ocrmypdf-colour.pdf")"
  ocr "$work/$page-img2pdf-lat.pdf" "$work/$page-ocrmypdf-lat.pdf"
  printf '| ocrmypdf on the -lat Group 4 page (PDF/A) | %s |\n' "$(kb "$work/$page-ocrmypdf-lat.pdf")"
  ocr "$work/$page-pdf_Mono.pdf" "$work/$page-ocr-dither.pdf"
  ocr "$work/$page-pdf_Mono_MonoText.pdf" "$work/$page-ocr-text.pdf"
  w="$work/$page-words.txt"
  echo
  echo "Words found by ocrmypdf on the stored image: colour JPEG $(count "$work/$page-ocrmypdf-colour.pdf" "$w")," \
    "dithered $(count "$work/$page-ocr-dither.pdf" "$w"), MonoText $(count "$work/$page-ocr-text.pdf" "$w")," \
    "ImageMagick -lat $(count "$work/$page-ocrmypdf-lat.pdf" "$w"); by lumipage's own text layer: colour" \
    "$(count "$work/$page-pdf_OCR_eng.pdf" "$w"), MonoText $(count "$work/$page-pdf_Mono_MonoText_OCR_eng.pdf" "$w")"
  echo
done
