#!/usr/bin/env bash
# What the SANE bridge costs a job before its first page when the device list comes from the
# device cache, with network discovery on ([Sane] LocalOnly=0). SANE runs with the machine's full
# configuration (every backend of /etc/sane.d/dll.conf, the network ones among them) plus the
# "test" backend, copied into a private folder. Side by side in one run, each job one
# page at 100 dpi, run in turn:
#   the bridge off, the virtual scanner;
#   the bridge on, LocalOnly=0, device cache fresh, the same job;
#   the same, scanning from the test backend's device instead (this loads libsane);
#   the test backend's page through scanimage, for the page's own cost;
#   loading libsane, sane_init and sane_open of the test device alone;
#   the bridge on, LocalOnly=0, CacheSeconds=0: the job as it was before the cache (3 runs);
# then `noscan` with the cache off (it always looks for devices), against an older build when its
# folder is given.
#   bash bench/sane_cache.sh [build-folder] [runs] [older-build-folder]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-20}
old=${3:+$(cd "$3" && pwd)}
# On a memory file system where there is one: the fsync of every saved file would add the disk's
# noise to every run.
work=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$work"' EXIT

cp -r /etc/sane.d "$work/sane"
sed -i '1i test' "$work/sane/dll.conf"
sed -i 's/^geometry_max .*/geometry_max 297.0/' "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"

setup() {  # name, twain_32.ini text, build folder
  mkdir -p "$work/$1/exe" "$work/$1/sys"
  cp "$3/lumipage" "$work/$1/exe/"
  cp "$3/libtwain_32.so" "$work/$1/sys/"
  printf '%b' "[Source1]\nName=Desk\nPages=1\n$2" > "$work/$1/sys/twain_32.ini"
}
setup off '[Sane]\nEnabled=0\n' "$build"
setup cached '[Sane]\nLocalOnly=0\n' "$build"
setup nocache '[Sane]\nLocalOnly=0\nCacheSeconds=0\n' "$build"
setup noscan '[Sane]\nLocalOnly=1\nCacheSeconds=0\n' "$build"
[ -n "$old" ] && setup noscan-old '[Sane]\nLocalOnly=1\n' "$old"

job() {  # folder, arguments...: runs the job, prints its wall time in microseconds
  local f=$1 t0 t1
  shift
  t0=$(date +%s%N)
  LUMIPAGE_SYSTEM_DIR="$work/$f/sys/" "$work/$f/exe/lumipage" "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  if grep -q '^\[Error\]' "$work/$f/exe/lp_done.dat"; then cat "$work/$f/exe/lp_done.dat" >&2; exit 1; fi
  echo $(((t1 - t0) / 1000))
}
scanimage_page() {
  local t0 t1
  t0=$(date +%s%N)
  scanimage -d test:0 --resolution 100 --source Flatbed -l 0 -t 0 -x 297 -y 297 --format=jpeg -o "$work/page.jpg"
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}
report() {  # label, file of times in microseconds
  sort -n "$2" | awk -v l="$1" '{ v[NR] = $1 } END {
    printf "  %-34s median %8.1f ms  (quartiles %.1f, %.1f; fastest %.1f; %d runs)\n", l, v[int((NR + 1) / 2)] / 1000,
      v[int((NR + 3) / 4)] / 1000, v[int((3 * NR + 3) / 4)] / 1000, v[1] / 1000, NR }'
}

# Warm-up runs; the first one of "cached" writes the device cache.
for _ in 1 2 3; do
  job off jpg Resolution 100 NoADF Scanner Desk >/dev/null
  job cached jpg Resolution 100 NoADF Scanner Desk >/dev/null
  job cached jpg Resolution 100 NoADF Scanner "Noname frontend-tester" >/dev/null
done
grep -q 'frontend-tester' "$work/cached/sys/sane-devices.cache"

# Run in turn, so that a busy moment of the machine falls on all of them alike.
echo "one page at 100 dpi, $runs runs each, in turn:"
for _ in $(seq "$runs"); do
  job off jpg Resolution 100 NoADF Scanner Desk >> "$work/off.txt"
  job cached jpg Resolution 100 NoADF Scanner Desk >> "$work/cached.txt"
  job cached jpg Resolution 100 NoADF Scanner "Noname frontend-tester" >> "$work/cached-sane.txt"
  scanimage_page >> "$work/scanimage.txt"
done
report "bridge off, virtual scanner" "$work/off.txt"
report "cached, LocalOnly=0, virtual" "$work/cached.txt"
report "cached, LocalOnly=0, SANE test:0" "$work/cached-sane.txt"
report "scanimage -d test:0, same page" "$work/scanimage.txt"
# What the job from the SANE device has more before its page: loading libsane, sane_init and
# sane_open of the device, timed inside a fresh process each run.
for _ in $(seq "$runs"); do
  python3 -c '
import ctypes, time
t0 = time.perf_counter()
lib = ctypes.CDLL("libsane.so.1")
version, handle = ctypes.c_int(), ctypes.c_void_p()
assert lib.sane_init(ctypes.byref(version), None) == 0
assert lib.sane_open(b"test:0", ctypes.byref(handle)) == 0
print(int((time.perf_counter() - t0) * 1e6))
lib.sane_close(handle); lib.sane_exit()' >> "$work/libsane.txt"
done
report "libsane load, init, open test:0" "$work/libsane.txt"
for _ in 1 2 3; do job nocache jpg Resolution 100 NoADF Scanner Desk >> "$work/nocache.txt"; done
report "no cache, LocalOnly=0, virtual" "$work/nocache.txt"

echo "noscan with the cache off (it always looks for devices), LocalOnly=1, $runs runs each, in turn:"
for _ in $(seq "$runs"); do
  job noscan noscan >> "$work/noscan.txt"
  if [ -n "$old" ]; then job noscan-old noscan >> "$work/noscan-old.txt"; fi
done
report "this build" "$work/noscan.txt"
if [ -n "$old" ]; then report "older build" "$work/noscan-old.txt"; fi
