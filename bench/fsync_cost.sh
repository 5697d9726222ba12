#!/usr/bin/env bash
# What flushing to disk costs a whole job: 20 A4 pages at 200 dpi from the virtual scanner, each
# output format, run alternately with the program's fsyncs and with them made no-ops (the fault
# tests' preloaded library with LUMIPAGE_FAULT_NOSYNC=1; both runs preload it). The folders lie
# under the build folder, on the disk the build uses (a tmpfs would hide the cost). Every run starts
# after a `sync`, so no run pays for the writeback of the one before; the order of the pair swaps
# every round, so neither kind always runs first.
#   bash bench/fsync_cost.sh [build-folder] [rounds] [formats, default "jpg tif bmp multi_tif pdf"]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-15}
formats=${3:-jpg tif bmp multi_tif pdf}
lib="$build/test-faults/libfault_inject.so"
[ -f "$lib" ] || { echo "build the fault_inject target first" >&2; exit 1; }
work=$(mktemp -d "$build/fsync-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/exe" "$work/sys" "$work/out"
cp "$build/lumipage" "$work/exe/"
cp "$build/libtwain_32.so" "$work/sys/"
printf '[Sane]\nEnabled=0\n[Source1]\nPages=20\n' > "$work/sys/twain_32.ini"
printf '[Scan]\n' > "$work/exe/lumipage.ini"   # written by the first job only: later ones find the same scanners

run() {  # nosync(0|1) args...; prints seconds
  local nosync=$1; shift
  rm -f "$work/out/"*
  sync
  local t0 t1
  t0=$(date +%s.%N)
  LD_PRELOAD="$lib" LUMIPAGE_FAULT_NOSYNC="$nosync" LUMIPAGE_SYSTEM_DIR="$work/sys/" "$work/exe/lumipage" "$@"
  t1=$(date +%s.%N)
  grep -q '^\[Error\]' "$work/exe/lp_done.dat" && { cat "$work/exe/lp_done.dat" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The last column pairs the two runs of each round, next to each other in time, so that a load
# that changes during the run moves both alike.
printf '| Output | with fsync (median of %s) | fsync as no-op | cost | cost, median of the pairs |\n|---|---|---|---|---|\n' "$rounds"
for fmt in $formats; do
  args=("$fmt" Resolution 200 filename "$work/out/doc.$fmt")
  [ "$fmt" = multi_tif ] && args=(multi_tif Resolution 200 filename "$work/out/doc.tif")
  with=() without=()
  for r in $(seq "$rounds"); do
    if [ $((r % 2)) = 1 ]; then
      with+=("$(run 0 "${args[@]}")")
      without+=("$(run 1 "${args[@]}")")
    else
      without+=("$(run 1 "${args[@]}")")
      with+=("$(run 0 "${args[@]}")")
    fi
  done
  w=$(printf '%s\n' "${with[@]}" | median)
  n=$(printf '%s\n' "${without[@]}" | median)
  p=$(for i in "${!with[@]}"; do awk -v w="${with[$i]}" -v n="${without[$i]}" 'BEGIN { print (w - n) / n * 100 }'; done | median)
  awk -v f="$fmt" -v w="$w" -v n="$n" -v p="$p" 'BEGIN { printf "| %s | %.3f s | %.3f s | %+.1f%% | %+.1f%% |\n", f, w, n, (w - n) / n * 100, p }'
done
