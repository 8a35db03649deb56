#!/usr/bin/env bash
# Builds the distributable installer: zqpack natively, ZQSETUP.EXE and the
# demo product with the mingw-w64 cross compiler, then packs the product behind
# the setup (solid, encrypted with the setup's built-in password).
#
#   scripts/build-installer.sh [OUTPUT]      default OUTPUT: build/installer/ZQSETUP.EXE
#
# Build folders: ZQ_NATIVE_BUILD (default build/native) and ZQ_MINGW_BUILD
# (default build/mingw), the same as the presets, so that a run after
# scripts/test.sh reuses its builds.
#
# The installer is reproducible: the same commit gives the same bytes in any
# folder, at any time. The programs' PE timestamps and the product files'
# times are SOURCE_DATE_EPOCH, by default the commit's time (see
# CMakeLists.txt), and the packer turns those times into the archive's local
# times in UTC. The last line is the installer's SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."

native=${ZQ_NATIVE_BUILD:-build/native}
mingw=${ZQ_MINGW_BUILD:-build/mingw}
output=${1:-build/installer/ZQSETUP.EXE}

echo "== zqpack (native)"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native" --target zqpack -j2

echo "== ZQSETUP.EXE and the demo product (mingw-w64)"
cmake --no-warn-unused-cli -S . -B "$mingw" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$mingw" --target ZQSETUP demo_product -j2

echo "== packing"
product=$mingw/demo/product
stub=$(realpath "$mingw/resources/ZQSETUP.EXE")
zqpack=$(realpath "$native/zqpack")
mkdir -p "$(dirname "$output")"
output=$(realpath "$output")
# The product folder as the one input: its files are named relative to it.
TZ=UTC0 "$zqpack" --stub "$stub" "$output" "$product"
echo "installer: $output ($(stat -c %s "$output") bytes, product $(du -sb "$product" | cut -f1) bytes)"
echo "SHA-256: $(sha256sum "$output" | cut -d' ' -f1)"
