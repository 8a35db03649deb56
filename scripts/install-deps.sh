#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Wine runs need.
# Safe to run again; run as root (or with sudo available).
set -euo pipefail
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
packages=(
    cmake make g++ libgtest-dev clang-format
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    clang libclang-rt-14-dev
    zlib1g-dev gzip xz-utils zstd
    python3 man-db
    openssl osslsigncode
    wine64 wine fonts-wine xvfb xdotool imagemagick
    libwine mingw-w64-x86-64-dev valgrind fonts-dejavu-core adwaita-icon-theme
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
