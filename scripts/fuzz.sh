#!/usr/bin/env bash
# Builds the fuzz targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, replays every kept regression case, then fuzzes
# each target for CHEERPOST_FUZZ_SECONDS (default 20) from the seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
CHEERPOST_FUZZ=1 bash scripts/setup.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target vcard_fuzzer image_source_fuzzer html_references_fuzzer -j2

seconds=${CHEERPOST_FUZZ_SECONDS:-20}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in vcard image_source html_references; do
  bin=build/fuzz/fuzz/${target}_fuzzer
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  # A crash found once stays fixed: its input is kept and replayed first.
  shopt -s nullglob
  cases=(fuzz/regressions/$target/*)
  shopt -u nullglob
  if [ ${#cases[@]} -gt 0 ]; then
    "$bin" "${cases[@]}"
  fi
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="build/fuzz/$target-" "$work" "fuzz/corpus/$target"
done
