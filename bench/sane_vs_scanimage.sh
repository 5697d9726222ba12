#!/usr/bin/env bash
# The SANE bridge of the source manager, measured with SANE's own "test" backend in a private
# configuration (never the machine's scanners):
#  1. one colour page at 300 dpi through `lumipage jpg` against `scanimage --format=jpeg` for the
#     same page with the same device options (colour, 8 bits, 300 dpi, the full 297 x 297 mm area
#     of the test backend, whose area is square; JPEG quality 75 on both sides), run alternately,
#     median wall time of N runs each;
#     then the same without compression (`lumipage bmp` against `scanimage --format=pnm`), which
#     shows the bridge's own share. Our job flushes its files before the report, so scanimage is
#     timed as it is and followed by `sync -f` of its page; and a line-art page (`lumipage bmp
#     ScanMono`, which the test backend gives as grey with 1 bit a pixel) against `scanimage --mode
#     Gray --depth 1 --format=pnm`;
#  2. what the bridge adds to a `lumipage noscan` job with the machine's own SANE configuration:
#     bridge off, on with LocalOnly=1 (the default) and on with LocalOnly=0.
#   bash bench/sane_vs_scanimage.sh [build-folder] [runs]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/sane" "$work/sys" "$work/exe" "$work/out"
echo test > "$work/sane/dll.conf"
sed -e 's/^geometry_max .*/geometry_max 297.0/' -e 's/^test-picture .*/test-picture "Color pattern"/' \
  /etc/sane.d/test.conf > "$work/sane/test.conf"
cp "$build/lumipage" "$work/exe/"
cp "$build/libtwain_32.so" "$work/sys/"
printf '[Sources]\nCount=0\n' > "$work/sys/twain_32.ini"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

lumipage_page() {  # output switch, default jpg; further switches
  local t0 t1 out=${1:-jpg}
  shift || true
  t0=$(now)
  SANE_CONFIG_DIR="$work/sane" LUMIPAGE_SYSTEM_DIR="$work/sys/" timeout 60 "$work/exe/lumipage" "$out" "$@" NoADF Resolution 300 \
    jpg_quality 75 Scanner "Noname frontend-tester"
  t1=$(now)
  grep -q '^\[Error\]' "$work/exe/lp_done.dat" && { cat "$work/exe/lp_done.dat" >&2; exit 1; }
  elapsed "$t0" "$t1"
}
scanimage_page() {  # format, default jpeg; flush (1: sync -f the page, as our job flushes its files)
  local t0 t1
  t0=$(now)
  SANE_CONFIG_DIR="$work/sane" timeout 60 scanimage -d test:0 $mode --resolution 300 --source Flatbed \
    -l 0 -t 0 -x 297 -y 297 --format="${1:-jpeg}" -o "$work/out/page.${1:-jpeg}"
  [ "${2:-0}" = 1 ] && sync -f "$work/out/page.${1:-jpeg}"
  t1=$(now)
  elapsed "$t0" "$t1"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mode="--mode Color --depth 8"
side_by_side() {  # our output switch, scanimage format, our further switches
  : > "$work/l.txt"; : > "$work/s.txt"; : > "$work/f.txt"
  for _ in $(seq "$runs"); do
    lumipage_page "$1" "${@:3}" >> "$work/l.txt"
    scanimage_page "$2" >> "$work/s.txt"
    scanimage_page "$2" 1 >> "$work/f.txt"
  done
  local l s f
  l=$(median < "$work/l.txt"); s=$(median < "$work/s.txt"); f=$(median < "$work/f.txt")
  printf '  lumipage %-4s median %s s | scanimage --format=%-4s median %s s, ratio %s | with sync -f median %s s, ratio %s\n' \
    "$1" "$l" "$2" "$s" "$(ratio "$l" "$s")" "$f" "$(ratio "$l" "$f")"
}
echo "colour page, 300 dpi, 297 x 297 mm (3508 x 3508 pixels), $runs runs each:"
side_by_side jpg jpeg
identify "$work/exe/page001.jpg" "$work/out/page.jpeg" 2>/dev/null | sed 's/^/  /' || true
side_by_side bmp pnm
echo "line-art page (ScanMono; 1 bit a pixel), the same area and resolution, $runs runs each:"
mode="--mode Gray --depth 1"
side_by_side bmp pnm ScanMono

echo "noscan with the machine's SANE configuration, $runs runs each:"
noscan() {  # twain_32.ini text
  printf '%b' "$1" > "$work/sys/twain_32.ini"
  : > "$work/n.txt"
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(now)
    LUMIPAGE_SYSTEM_DIR="$work/sys/" "$work/exe/lumipage" noscan
    t1=$(now)
    elapsed "$t0" "$t1" >> "$work/n.txt"
  done
  median < "$work/n.txt"
}
printf '  bridge off            median %s s\n' "$(noscan '[Sane]\nEnabled=0\n')"
printf '  bridge on, LocalOnly=1 median %s s\n' "$(noscan '[Sane]\nLocalOnly=1\n')"
printf '  bridge on, LocalOnly=0 median %s s\n' "$(noscan '[Sane]\nLocalOnly=0\n')"
