#!/usr/bin/env bash
# Builds the tests of the threaded code (the write batch with its worker, the
# contact folder read on every core) under ThreadSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
tests=(test_write_batch test_contacts)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$(nproc)" --target "${tests[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
ctest --preset tsan -R "^($(IFS='|'; echo "${tests[*]}"))\$"
