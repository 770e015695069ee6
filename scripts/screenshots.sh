#!/usr/bin/env bash
# Saves both pages of the main window, maximized on a 1366x768 laptop screen
# and on a 1920x1080 one scaled by 1.5, with the demo templates open, into
# docs/screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$(nproc)" --target test_layout >/dev/null
out="$PWD/docs/screenshots"
mkdir -p "$out"
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
bash scripts/make-demo-store.sh "$demo" >/dev/null
export CHEERPOST_SCREENSHOTS="$out" CHEERPOST_SCREENSHOT_TEMPLATES="$demo/templates"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox" LANG=C.UTF-8
layout=build/ci/tests/shell/test_layout
QT_QPA_PLATFORM="offscreen:configfile=$PWD/tests/data/screen-laptop.json" CHEERPOST_SCREENSHOT_NAME=1366x768 \
  "$layout" --gtest_filter='*Screenshots'
QT_QPA_PLATFORM="offscreen:configfile=$PWD/tests/data/screen-fullhd.json" QT_SCALE_FACTOR=1.5 \
  CHEERPOST_SCREENSHOT_NAME=1920x1080-scaled "$layout" --gtest_filter='*Screenshots'
ls -l "$out"
