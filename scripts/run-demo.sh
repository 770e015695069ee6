#!/usr/bin/env bash
# Installs what is missing, builds, and starts Cheerpost on a demo store in
# ./demo: contacts with birthdays and anniversaries this month, a birthday
# template to open, and a delivery command that only records the mail.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh dev

demo="$PWD/demo"
export XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data" XDG_CACHE_HOME="$demo/cache"
bash scripts/make-demo-store.sh "$demo"

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Cheerpost on a virtual one (xvfb-run)."
  exec xvfb-run -a build/dev/app/cheerpost
fi
exec build/dev/app/cheerpost
