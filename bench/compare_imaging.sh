#!/usr/bin/env bash
# Times whole commands side by side on the same A4 page (2481 x 3507, true colour, text on noisy
# off-white): ImageMagick's Floyd-Steinberg monochrome and libjpeg-turbo's cjpeg against the
# same work done by the image library. Figures are the best of RUNS runs, as CPU time (user +
# system, steady on a shared machine) and wall time.
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

# "cpu_ms wall_ms": best of $runs runs of a command, CPU from the children's resource usage.
best() {
  python3 - "$runs" "$@" <<'PY'
import resource, subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2:]
best_cpu = best_wall = float("inf")
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    best_cpu, best_wall = min(best_cpu, cpu), min(best_wall, wall)
print(f"{best_cpu * 1000:.1f} {best_wall * 1000:.1f}")
PY
}

# Ours: "cpu_ms wall_ms" per benchmark, best repetition.
ours=$(LUMIPAGE_BENCH_PAGE="$dir/page.bmp" "$bench" \
  --benchmark_filter='BM_CommandDitherFile|BM_CommandJpegFile|BM_JpegTrueColor85/fast:1$|BM_JpegGray85|BM_DitherBlackWhite/fast:1$' \
  --benchmark_repetitions="$runs" --benchmark_min_time=0 --benchmark_format=csv 2>/dev/null |
  python3 -c '
import csv, sys
best = {}
for row in csv.DictReader(l for l in sys.stdin if l.startswith(("name", "\"BM_"))):
    name = row["name"]
    if name.endswith(("_mean", "_median", "_stddev", "_cv")):
        continue
    name = name.split("/repeats")[0]
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[row["time_unit"]]
    cpu, wall = float(row["cpu_time"]) * scale, float(row["real_time"]) * scale
    b = best.setdefault(name, [cpu, wall])
    b[0], b[1] = min(b[0], cpu), min(b[1], wall)
for name, (cpu, wall) in best.items():
    print(f"{name} {cpu:.1f} {wall:.1f}")
')
our() { echo "$ours" | awk -v k="$1" '$1 == k { print $2, $3 }'; }

im=$(best env MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 "$convert" "$dir/page.bmp" -dither FloydSteinberg -monochrome "$dir/im.bmp")
cj=$(best cjpeg -quality 85 -outfile "$dir/cj.jpg" "$dir/page.ppm")
cjg=$(best cjpeg -quality 85 -outfile "$dir/cjg.jpg" "$dir/page_gray.pgm")

row() {  # label, other "cpu wall", ours "cpu wall"
  python3 -c '
import sys
label, o, u = sys.argv[1], list(map(float, sys.argv[2].split())), list(map(float, sys.argv[3].split()))
print(f"{label:<46} {o[0]:>8.1f} {u[0]:>8.1f} {o[0] / u[0]:>7.2f}   {o[1]:>8.1f} {u[1]:>8.1f} {o[1] / u[1]:>7.2f}")
' "$1" "$2" "$3"
}
printf '%-46s %8s %8s %7s   %8s %8s %7s\n' "best of $runs, ms (ratio = other / ours)" "cpu oth" "cpu ours" "ratio" "wall oth" "wall our" "ratio"
row "FS mono: convert vs ours, whole command" "$im" "$(our BM_CommandDitherFile)"
row "FS mono: convert vs our dither in memory" "$im" "$(our BM_DitherBlackWhite/fast:1)"
row "JPEG q85 colour: cjpeg vs ours, whole command" "$cj" "$(our BM_CommandJpegFile/grey:0)"
row "JPEG q85 colour: cjpeg vs our encode" "$cj" "$(our BM_JpegTrueColor85/fast:1)"
row "JPEG q85 grey: cjpeg vs ours, whole command" "$cjg" "$(our BM_CommandJpegFile/grey:1)"
row "JPEG q85 grey: cjpeg vs our encode" "$cjg" "$(our BM_JpegGray85)"
