#!/usr/bin/env bash
# Instructions of two whole jobs under callgrind, a figure that load on the machine does not
# move (runs of the same build agree within 0.05 %): a 20-page PDF from the virtual scanner's
# rendered pages, and one page appended to a 2,000-page PDF with object streams made by qpdf.
# Compare two builds by running it on each.
#   bash bench/instruction_counts.sh [build-folder]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
. "$(dirname "$0")/common.sh"
prepare_program "$build"
cp "$build/liblumipage_ocr.so" "$work/exe/" 2>/dev/null || true

# One page with a line of text, then 2,000 of it in object streams.
cat > "$work/one.txt" <<'PDF'
%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >> endobj
4 0 obj << /Length 44 >> stream
BT /F1 24 Tf 72 720 Td (A line of text) Tj ET
endstream endobj
5 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj
trailer << /Root 1 0 R >>
%%EOF
PDF
qpdf "$work/one.txt" "$work/one.pdf" 2>/dev/null || [ $? = 3 ]
pages=()
for _ in $(seq 2000); do pages+=("$work/one.pdf" 1); done
qpdf --empty --object-streams=generate --pages "${pages[@]}" -- "$work/big.pdf" 2>/dev/null || [ $? = 3 ]  # 3: warnings only (the page has no cross-reference table)

scanner() { printf '[Sources]\nCount=1\n[Source1]\nPages=%s\n[Sane]\nEnabled=0\n' "$1" > "$work/sys/twain_32.ini"; }
instructions() {  # callgrind output file
  awk '/^summary:|^totals:/ { print $2; exit }' "$1"
}
cd "$work/exe"
scanner 20
LUMIPAGE_SYSTEM_DIR="$work/sys/" valgrind --tool=callgrind --callgrind-out-file="$work/twenty.cg" \
  ./lumipage pdf filename "$work/twenty.pdf" > /dev/null 2>&1
grep -q '^\[Error\]' lp_done.dat && { cat lp_done.dat >&2; exit 1; }
scanner 1
cp "$work/big.pdf" "$work/append.pdf"
LUMIPAGE_SYSTEM_DIR="$work/sys/" valgrind --tool=callgrind --callgrind-out-file="$work/append.cg" \
  ./lumipage pdf Append filename "$work/append.pdf" > /dev/null 2>&1
grep -q '^\[Error\]' lp_done.dat && { cat lp_done.dat >&2; exit 1; }
echo "20-page job:                 $(instructions "$work/twenty.cg") instructions"
echo "1 page appended to 2,000:    $(instructions "$work/append.cg") instructions"
