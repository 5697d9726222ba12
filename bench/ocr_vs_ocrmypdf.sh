#!/usr/bin/env bash
# Searchable PDFs side by side, in one run on the same 10 A4 pages of known text at 300 dpi:
#  - lumipage: scanning the pages (virtual scanner, page folder) into a searchable PDF, end to end
#    (`pdf OCR eng`);
#  - ocrmypdf (Debian's package, the same Tesseract and language data): turning the image PDF that
#    lumipage writes without OCR into a searchable one, in its default mode (all cores) and with
#    --jobs 1, each with --output-type pdf (no PDF/A conversion) and its default (PDF/A).
# Then the word accuracy of each PDF's text against the words drawn.
#   bash bench/ocr_vs_ocrmypdf.sh [build-folder] [runs]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
command -v ocrmypdf >/dev/null || { echo "ocrmypdf is not installed (apt-get install ocrmypdf)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pages" "$work/sys" "$work/exe"

echo "making 10 pages of 2480 x 3508 at 300 dpi..."
python3 - "$work" <<'PY'
import random, sys
words = ("account balance invoice payment customer delivery address order number quantity price total "
         "service contract period amount reference statement monthly annual report summary office "
         "department manager meeting schedule product quality review budget project market sales north "
         "south east west river mountain garden window kitchen morning evening winter summer letter "
         "paper folder scanner document archive search record history library station journey").split()
work = sys.argv[1]
rng = random.Random(20)
for page in range(1, 11):
    lines = [" ".join(rng.choice(words).capitalize() if i == 0 else rng.choice(words) for i in range(9))
             for _ in range(30)]
    open(f"{work}/text{page:02d}.txt", "w").write("\n".join(lines) + "\n")
PY
for i in $(seq -w 1 10); do
  convert -size 2480x3508 xc:white -font Liberation-Sans -pointsize 11 -density 300 -fill black \
    -interline-spacing 20 -annotate +200+300 "$(cat "$work/text$i.txt")" -units PixelsPerInch -density 300 \
    -type TrueColor "BMP3:$work/pages/p$i.bmp"
done
cat "$work"/text*.txt > "$work/truth.txt"

cp "$build/lumipage" "$work/exe/"
cp "$build/libtwain_32.so" "$build/liblumipage_ocr.so" "$work/sys/"
printf '[Sources]\nCount=1\n[Source1]\nPageFolder=%s\n' "$work/pages" > "$work/sys/twain_32.ini"
job() { LUMIPAGE_SYSTEM_DIR="$work/sys/" SANE_CONFIG_DIR="$work/sys" "$work/exe/lumipage" "$@" </dev/null
        if grep -q '^\[Error\]' "$work/exe/lp_done.dat"; then cat "$work/exe/lp_done.dat" >&2; exit 1; fi; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The image PDF ocrmypdf starts from: the same pages as lumipage stores them (JPEG, quality 85).
job pdf filename "$work/images.pdf"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
declare -A times
for r in $(seq "$runs"); do
  t0=$(now); job pdf OCR eng filename "$work/lumipage.pdf"; t1=$(now)
  times[lumipage]+="$(elapsed "$t0" "$t1") "
  for variant in "pdf:" "pdf:--jobs 1" "pdfa:"; do
    type=${variant%%:*}; extra=${variant#*:}
    t0=$(now)
    # shellcheck disable=SC2086
    ocrmypdf -q -l eng --output-type "$type" $extra "$work/images.pdf" "$work/ocrmypdf-$type${extra:+-j1}.pdf"
    t1=$(now)
    times["ocrmypdf --output-type $type $extra"]+="$(elapsed "$t0" "$t1") "
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

base=$(median ${times[lumipage]})
printf '%-40s %8s  %s\n' "10 pages to a searchable PDF" "median s" "lumipage / this"
for k in lumipage "ocrmypdf --output-type pdf " "ocrmypdf --output-type pdf --jobs 1" "ocrmypdf --output-type pdfa "; do
  m=$(median ${times[$k]})
  printf '%-40s %8s  %s   (runs: %s)\n' "$k" "$m" "$(awk -v a="$base" -v b="$m" 'BEGIN { printf "%.2fx", a / b }')" "${times[$k]}"
done

accuracy() {  # share of the drawn words found, as a multiset, in the PDF's text
  pdftotext "$1" - | python3 -c '
import collections, re, sys
truth = collections.Counter(open(sys.argv[1]).read().split())
found = collections.Counter(re.findall(r"\S+", sys.stdin.read()))
hit = sum(min(n, found[w]) for w, n in truth.items())
print(f"{hit}/{sum(truth.values())} = {100 * hit / sum(truth.values()):.2f}%")' "$work/truth.txt"
}
echo "word accuracy, lumipage:          $(accuracy "$work/lumipage.pdf")"
echo "word accuracy, ocrmypdf (pdf):    $(accuracy "$work/ocrmypdf-pdf.pdf")"
echo "word accuracy, ocrmypdf (pdfa):   $(accuracy "$work/ocrmypdf-pdfa.pdf")"
