#!/usr/bin/env bash
# Installs the Debian packages Cheerpost needs that are missing. Runs as root
# or through sudo.
set -euo pipefail

packages=(cmake g++ make pkg-config git python3 clang-format
          qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
          libgmime-3.0-dev libical-dev libuchardet-dev libgumbo-dev libcurl4-openssl-dev libssl-dev libpsl-dev
          libgtest-dev libbenchmark-dev
          qt6-qpa-plugins libqt6svg6
          msmtp python3-aiosmtpd notmuch dbus strace fuse3 python3-pyfuse3 openssl libsecret-tools radicale xandikos vdirsyncer python3-authlib python3-flask python3-dnslib
          dpkg-dev file desktop-file-utils appstream systemd
          xvfb xauth fonts-dejavu-core)
[ "${CHEERPOST_FUZZ:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
