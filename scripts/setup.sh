#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages Pictelle needs (only those missing), then configures
# and builds it in build/. Safe to run again: a second run only rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-l10n-tools qt6-translations-l10n qt6-wayland weston libjpeg62-turbo-dev libpng-dev liblcms2-dev libisal-dev
    libwebp-dev libtiff-dev libgif-dev webp libtiff-tools
    libheif-dev
    libjxl-dev
    libraw-dev
    fonts-liberation2
    xvfb xauth x11-utils libx11-dev openbox
    dbus-daemon at-spi2-core
    desktop-file-utils
    parallel
    dpkg-dev lintian appstream man-db file bash-completion
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build_dir=${PICTELLE_BUILD_DIR:-build}
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${PICTELLE_BUILD_TYPE:-RelWithDebInfo} >/dev/null
fi
cmake --build "$build_dir"
