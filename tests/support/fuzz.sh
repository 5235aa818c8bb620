# Sourced by the fuzz checks in tests/checks: the one way a libFuzzer target
# is built, run for a bounded time and judged.

# Compiler flags of every fuzz target (add -fsanitize=fuzzer for the target
# itself; tools built beside it leave it out).
fuzz_flags=(-std=c++17 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all)

# fuzz_work ROOT NAME: the check's folder under the build tree (GD_BUILD_DIR
# or ROOT/build), made with its findings folder.
fuzz_work() {
  local dir=${GD_BUILD_DIR:-$1/build}/fuzz/$2
  mkdir -p "$dir/findings"
  echo "$dir"
}

# fuzz_run BINARY CORPUS SECONDS MAX_LEN ARTIFACT_PREFIX SHOWN_LINES
# Runs the fuzzer with leak checks, a 2 GiB memory limit and a 10 s limit per
# input, and shows the last lines of its report. Answers its exit status.
fuzz_run() {
  local binary=$1 corpus=$2 seconds=$3 max_len=$4 prefix=$5 shown=$6
  ASAN_OPTIONS=detect_leaks=1 "$binary" "$corpus" -max_total_time="$seconds" -max_len="$max_len" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$prefix" 2>&1 | tail -n "$shown"
  return "${PIPESTATUS[0]}"
}

# fuzz_verdict FINDINGS_DIR STATUS MESSAGE: fails when the folder holds a
# finding or STATUS is not 0; otherwise prints MESSAGE.
fuzz_verdict() {
  local findings=$1 status=$2 message=$3
  if ls "$findings"/* >/dev/null 2>&1; then
    echo "findings in $findings"
    return 1
  fi
  [ "$status" = 0 ] || return 1
  echo "$message"
}
