#!/usr/bin/env bash
# Fuzzes the two readers of server text, the configuration (as `gamecfg check`
# reads it) and the label markup, with libFuzzer under ASan and UBSan for a
# bounded time each. Inputs go up to 1 MiB so that slow or greedy inputs show
# as timeouts or memory findings. TEXT_FUZZ_SECONDS runs each longer.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/fuzz.sh
source "$root/tests/support/fuzz.sh"
work=$(fuzz_work "$root" text)
mkdir -p "$work/config-corpus" "$work/markup-corpus"
seconds=${TEXT_FUZZ_SECONDS:-30}

flags=("${fuzz_flags[@]}" -fsanitize=fuzzer -I"$root/src" -I"$root")
clang++ "${flags[@]}" "$root/tests/config/config_fuzzer.cpp" "$root/src/config/config_parse.cpp" \
  "$root/src/config/profile_text.cpp" "$root/contract/text.cpp" -o "$work/config_fuzzer"
clang++ "${flags[@]}" "$root/tests/skin/markup_fuzzer.cpp" "$root/src/skin/markup.cpp" -o "$work/markup_fuzzer"

printf '[GameConfig]\r\nGameName=G\r\nGameSize=5,6\r\nGameDownloadLink=http://h/a.exe?t=1,http://h/b.bin\r\nGameStart=a.exe\r\n[DownLoader]\r\nNewVersion=1.1.0.1010\r\n[Gardbox]\r\nGardboxDownloaderLink=http://h/box.exe\r\n' \
  >"$work/config-corpus/seed.ini"
printf '{\0&\0#\0a\0=\0b\0u\0t\0t\0o\0n\0:\x001\x009\0}\0{\0&\0#\0c\0o\0l\0o\0r\0=\x000\0x\0f\0f\0}\0x\0{\0&\0#\0/\0a\0}\0' \
  >"$work/markup-corpus/seed.txt"

status=0
for which in config markup; do
  fuzz_run "$work/${which}_fuzzer" "$work/$which-corpus" "$seconds" 1048576 "$work/findings/$which-" 12 || status=1
done
fuzz_verdict "$work/findings" "$status" "no finding in ${seconds}s each"
