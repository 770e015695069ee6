#!/usr/bin/env bash
# Installs what is missing, checks the layers and the formatting, builds with
# warnings as errors and runs the whole test suite, builds the Debian package
# and validates what it installs; then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded code under
# ThreadSanitizer, and last the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

python3 scripts/check-layers.py
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: every source file follows .clang-format"

export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

bash scripts/build.sh ci
ctest --preset ci -j2
bash scripts/package.sh build/ci

if [ "${CHEERPOST_SKIP_ASAN:-0}" != 1 ]; then
  bash scripts/build.sh asan
  # WebEngine's own libraries are not instrumented: their leaks, and the sized
  # delete that Chromium does inside them, are not ours.
  ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j2
fi

if [ "${CHEERPOST_SKIP_TSAN:-0}" != 1 ]; then
  bash scripts/tsan.sh
fi

if [ "${CHEERPOST_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh
fi
