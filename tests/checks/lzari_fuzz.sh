#!/usr/bin/env bash
# Fuzzes the LZARI decoder (and the pack/unpack round trip) with libFuzzer
# under ASan and UBSan for a bounded time. LZARI_FUZZ_SECONDS runs it longer.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/fuzz.sh
source "$root/tests/support/fuzz.sh"
work=$(fuzz_work "$root" lzari)
mkdir -p "$work/corpus" "$work/seeds"
seconds=${LZARI_FUZZ_SECONDS:-60}

flags=("${fuzz_flags[@]}" -I"$root/src")
clang++ "${flags[@]}" -fsanitize=fuzzer "$root/tests/engine/lzari_fuzzer.cpp" "$root/src/engine/lzari.cpp" \
  -o "$work/lzari_fuzzer"
clang++ "${flags[@]}" "$root/tools/lzari/lzari_main.cpp" "$root/src/engine/lzari.cpp" -o "$work/lzari"

# Seeds: packed forms of a few kinds of input, so the fuzzer starts from
# well-formed streams and mutates them.
printf 'a' >"$work/seeds/one.txt"
head -c 3000 "$root/src/engine/lzari.cpp" >"$work/seeds/text.txt"
head -c 2000 /dev/zero >"$work/seeds/zero.bin"
printf '%*s' 1500 '' >"$work/seeds/spaces.txt"
head -c 2000 "$work/lzari" >"$work/seeds/binary.bin"
for f in "$work/seeds"/*; do
  [ "${f%.lz}" = "$f" ] || continue
  "$work/lzari" pack "$f" "$f.lz"
  "$work/lzari" unpack "$f.lz" "$f.back"
  cmp "$f" "$f.back"
  cp "$f.lz" "$work/corpus/"
done

status=0
fuzz_run "$work/lzari_fuzzer" "$work/corpus" "$seconds" 4096 "$work/findings/" 25 || status=$?
fuzz_verdict "$work/findings" "$status" "no finding in ${seconds}s"
