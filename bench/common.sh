# Shared by the whole-job benchmark scripts (sourced, not run).

# An A4 page at 300 dpi (2481 x 3508, true colour): lines of text on noisy off-white paper, as a
# BMP page file at $1.
draw_statement_page() {
  convert -size 2481x3508 xc:'#f3efe6' -attenuate 0.35 +noise Gaussian \
    -font Liberation-Sans -pointsize 28 -fill '#202020' \
    -annotate +150+300 "$(printf 'Statement of account %.0s' {1..4})" \
    -annotate +150+400 "$(printf 'Lorem ipsum dolor sit amet, consectetur %.0s' {1..2})" \
    -annotate +150+500 "$(printf 'Balance brought forward 1,234.56 EUR %.0s' {1..2})" \
    -units PixelsPerInch -density 300 -type TrueColor "BMP3:$1"
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f\n", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# A scratch folder ($work, removed on exit) with the program in $work/exe and its source
# manager in $work/sys, both from the build folder $1.
prepare_program() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/sys" "$work/exe"
  cp "$1/lumipage" "$work/exe/"
  cp "$1/libtwain_32.so" "$work/sys/"
}

# One virtual scanner that delivers the page files of folder $1; $2: more lines of twain_32.ini.
page_folder_scanner() {
  printf '[Sources]\nCount=1\n[Source1]\nPageFolder=%s\n%b' "$1" "${2:-}" > "$work/sys/twain_32.ini"
}

# Runs the program with the arguments and prints the seconds it took; a job that reports an
# error ends the benchmark with its report.
time_job() {
  local t0 t1
  t0=$(now)
  LUMIPAGE_SYSTEM_DIR="$work/sys/" "$work/exe/lumipage" "$@"
  t1=$(now)
  grep -q '^\[Error\]' "$work/exe/lp_done.dat" && { cat "$work/exe/lp_done.dat" >&2; exit 1; }
  elapsed "$t0" "$t1"
}
