#!/usr/bin/env bash
# Decoding the packed engine DLL: our LZARI decoder against gzip -d of the
# same DLL made with gzip -9, and the time the program spends extracting the
# engine at start-up under Wine. Prints; never fails on a timing.
#   bench/lzari/run.sh [FILE...]   (default: the engine DLL the win32 build
#   packs, and the program itself as a larger PE file)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${GD_BUILD_DIR:-$root/build}
work=$build/bench/lzari
mkdir -p "$work"
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/lzari/lzari_bench.cpp" "$root/src/engine/lzari.cpp" -lz \
  -o "$work/lzari_bench"
c++ -std=c++17 -O2 -I"$root/src" "$root/tools/lzari/lzari_main.cpp" "$root/src/engine/lzari.cpp" -o "$work/lzari"

engine_target=$(sed -n 's/^GD_ENGINE_DLL_TARGET:[A-Z]*=//p' "$build/win32/CMakeCache.txt" 2>/dev/null || true)
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=("$build/win32/bin/${engine_target:-engine_placeholder}.dll" "$build/win32/bin/GameDownloader.exe")
fi

runs=50
for file in "${files[@]}"; do
  [ -f "$file" ] || { echo "missing $file (build win32 first)"; continue; }
  "$work/lzari_bench" "$file" 30
  "$work/lzari" pack "$file" "$work/packed.lz"
  gzip -9c "$file" >"$work/packed.gz"
  # Whole processes, as a packer or installer would run them.
  start=$(date +%s%N)
  for _ in $(seq $runs); do "$work/lzari" unpack "$work/packed.lz" "$work/out.bin"; done
  ours=$(( ($(date +%s%N) - start) / runs / 1000 ))
  start=$(date +%s%N)
  for _ in $(seq $runs); do gzip -dc "$work/packed.gz" >"$work/out.gz.bin"; done
  theirs=$(( ($(date +%s%N) - start) / runs / 1000 ))
  cmp -s "$work/out.bin" "$file" && cmp -s "$work/out.gz.bin" "$file"
  awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "  process: lzari unpack %d us, gzip -d %d us, ratio %.2fx\n", o, t, o / t }'
done

# Start-up share under Wine: the probe times the extraction of resource 120
# (decode and file write) and reports the whole process's time.
probe=$build/win32/bin/engine_probe.exe
if [ -f "$probe" ] && command -v wine >/dev/null; then
  export WINEPREFIX=${GD_WINEPREFIX:-$build/wine/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  start=$(date +%s%N)
  wine "$probe" time-extract 20 | tr -d '\r'
  echo "  whole probe run under Wine: $(( ($(date +%s%N) - start) / 1000000 )) ms"
fi
