#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then configures and builds into ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkgconf qt6-base-dev libqt6sql6-sqlite libsqlite3-dev libqt6svg6 qt6-webengine-dev
          xvfb xauth fonts-wqy-microhei imagemagick sqlite3 curl
          qt6-translations-l10n librsvg2-bin dpkg-dev desktop-file-utils appstream lintian
          qt6-charts-dev libxlsxwriter-dev libgumbo-dev unzip man-db python3
          libcurl4-openssl-dev libssl-dev openssl iproute2 zlib1g-dev libbrotli-dev clang-14 libclang-rt-14-dev libfuzzer-14-dev
          libsecret-1-dev dbus-daemon gnome-keyring libpq-dev postgresql-15)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${CMAKE_ARGS:-}
cmake --build build
