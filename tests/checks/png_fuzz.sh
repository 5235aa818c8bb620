#!/usr/bin/env bash
# Fuzzes the PNG decoder of the skin with libFuzzer under ASan and UBSan for a
# bounded time, starting from the program's own pictures and a few small
# PNGs of every colour type. PNG_FUZZ_SECONDS runs it longer.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/fuzz.sh
source "$root/tests/support/fuzz.sh"
work=$(fuzz_work "$root" png)
mkdir -p "$work/corpus"
seconds=${PNG_FUZZ_SECONDS:-45}

flags=("${fuzz_flags[@]}" -I"$root/src")
# shellcheck disable=SC2046
clang++ "${flags[@]}" -fsanitize=fuzzer $(pkg-config --cflags libpng) "$root/tests/skin/png_fuzzer.cpp" \
  "$root/src/skin/png_decode.cpp" $(pkg-config --libs libpng zlib) -o "$work/png_fuzzer"

cp "$root"/res/png/1*.png "$work/corpus/"
# Small seeds of the other colour types, depths and interlacing, so mutation
# reaches the palette, grey, 16-bit and Adam7 paths quickly.
for seed in "png8:palette.png -type Palette" "png24:rgb.png" "png32:rgba.png -alpha set" \
  "png:grey.png -colorspace Gray" "png:grey16.png -colorspace Gray -depth 16" \
  "png:rgb16.png -depth 16" "png:adam7.png -interlace PNG"; do
  out=${seed%% *}
  args=${seed#* }
  [ "$args" = "$seed" ] && args=""
  # shellcheck disable=SC2086
  convert -size 9x7 gradient:red-blue $args -strip "$work/corpus/${out#*:}" 2>/dev/null || true
done

status=0
fuzz_run "$work/png_fuzzer" "$work/corpus" "$seconds" 65536 "$work/findings/" 25 || status=$?
fuzz_verdict "$work/findings" "$status" "no finding in ${seconds}s"
