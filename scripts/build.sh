#!/usr/bin/env bash
# Configures and builds one CMake preset: build.sh [dev|ci|asan|bench]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
