#!/usr/bin/env bash
# Builds the Debian package from the ci build, checks what it holds, and runs
# the desktop's validators on the desktop entry, the AppStream metadata and
# the systemd user units (as an install under a prefix writes them).
# package.sh [BUILD]: with a build folder that is already built (the test
# run gives build/ci), packages that; else builds only what the package holds
# (preset package: no tests) and packages it.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-}"
if [ -z "$build" ]; then
  build=build/package
  cmake --preset package >/dev/null
  cmake --build --preset package -j"$(nproc)" --target cheerpost cheerpost-deliver
fi
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/cheerpost_*_*.deb)
echo "package: $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/cheerpost ./usr/bin/cheerpost-deliver \
            ./usr/share/applications/org.tovrel.cheerpost.desktop \
            ./usr/share/metainfo/org.tovrel.cheerpost.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/cheerpost.svg \
            ./usr/share/icons/hicolor/48x48/apps/cheerpost.png \
            ./usr/share/icons/hicolor/256x256/apps/cheerpost.png \
            ./usr/share/systemd/user/cheerpost-deliver.service \
            ./usr/share/systemd/user/cheerpost-deliver.timer \
            ./usr/share/cheerpost/help.html \
            ./usr/share/cheerpost/templates/birthday.html \
            ./usr/share/cheerpost/templates/anniversary.html \
            ./usr/share/cheerpost/templates/bulk.html; do
  grep -qx -- "$path" <<<"$contents" || { echo "package lacks $path" >&2; exit 1; }
done
control=$(dpkg-deb -I "$deb")
for script in postinst prerm; do
  grep -q " $script " <<<"$control" || { echo "package lacks its $script" >&2; exit 1; }
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q 'systemctl --global enable cheerpost-deliver.timer'
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./prerm | grep -q 'systemctl --global disable cheerpost-deliver.timer'
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6webenginewidgets6 libgmime-3.0-0 libical3 libcurl4 qt6-qpa-plugins libqt6svg6; do
  grep -q "$dep" <<<"$depends" || { echo "package does not depend on $dep" >&2; exit 1; }
done
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/systemd/user/cheerpost-deliver.service \
  | grep -qx 'ExecStart=/usr/bin/cheerpost-deliver'
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/org.tovrel.cheerpost.desktop \
  | grep -qx 'Exec=/usr/bin/cheerpost'
# Everything it needs can be had from the archive (a dry run, installing nothing).
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install -s -qq "./$deb" >/dev/null
  # On a throwaway CI machine: install it for real, as a user would, and
  # remove it again. The install enables the delivery timer for every user,
  # the removal disables it.
  if [ -n "${CI:-}" ] && ! dpkg-query -W -f='${Status}' cheerpost 2>/dev/null | grep -q 'ok installed'; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
    [ "$(systemctl --global is-enabled cheerpost-deliver.timer)" = enabled ]
    /usr/bin/cheerpost-deliver --version >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq cheerpost >/dev/null
    ! systemctl --global is-enabled cheerpost-deliver.timer >/dev/null 2>&1
    echo "package: installs with apt, enables the delivery timer for every user; removal disables it"
  fi
fi

appstreamcli validate --no-net --pedantic packaging/org.tovrel.cheerpost.metainfo.xml >/dev/null
stage=$(mktemp -d)
runtime=$(mktemp -d)
trap 'rm -rf "$stage" "$runtime"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
grep -qx "ExecStart=$stage/bin/cheerpost-deliver" "$stage/share/systemd/user/cheerpost-deliver.service"
grep -qx "Exec=$stage/bin/cheerpost" "$stage/share/applications/org.tovrel.cheerpost.desktop"
desktop-file-validate "$stage/share/applications/org.tovrel.cheerpost.desktop"
XDG_RUNTIME_DIR="$runtime" systemd-analyze --user verify \
  "$stage/share/systemd/user/cheerpost-deliver.service" "$stage/share/systemd/user/cheerpost-deliver.timer"
echo "package: contents, desktop entry, metadata and units are right"
