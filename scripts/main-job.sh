#!/usr/bin/env bash
# The main job: from a fresh Debian 12 machine to an installed product.
# Installs the toolchain, builds everything (Linux and Windows), packs the demo
# installer, installs it under Wine on a virtual display by clicking OK with
# the dialog's defaults, and prints where the product went and what the setup
# wrote: files, registry values, INI, links. Screenshots of the dialog and of
# the success message are saved.
#
# Everything lands in build/: the installer in build/installer/ZQSETUP.EXE,
# the Wine prefix with the installed product and the screenshots in
# build/main-job/ (kept, so that the installation can be looked at again,
# e.g. WINEPREFIX=$PWD/build/main-job/prefix wine "C:\Program Files\Navigrove\ZQNG.EXE").
set -uo pipefail
cd "$(dirname "$0")/.."

die() {
    echo "main-job: $*" >&2
    exit 1
}

bash scripts/install-deps.sh || die "could not install the toolchain"

# The presets' folders unless told otherwise (ZQ_NATIVE_BUILD, ZQ_MINGW_BUILD).
native=${ZQ_NATIVE_BUILD:-build/native}
mingw=${ZQ_MINGW_BUILD:-build/mingw}
installer=${ZQ_INSTALLER:-build/installer/ZQSETUP.EXE}
echo "== building everything (Linux)"
{ cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$native" -j2; } || die "Linux build failed"
echo "== building everything (Windows, mingw-w64)"
{ cmake --no-warn-unused-cli -S . -B "$mingw" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build "$mingw" -j2; } ||
    die "Windows build failed"
echo "== packing the demo installer"
ZQ_NATIVE_BUILD=$native ZQ_MINGW_BUILD=$mingw bash scripts/build-installer.sh "$installer" ||
    die "packing failed"

echo "== installing under Wine"
job=$(realpath -m "${ZQ_MAIN_JOB_DIR:-build/main-job}")
rm -rf "$job"
mkdir -p "$job/home" "$job/screenshots"
source tests/e2e/wine_session.sh
source tests/e2e/windows.sh
source tests/e2e/product.sh
CASE_DIR=$job
ARTIFACTS=$job/screenshots
E2E_PROBE=$job/probe.exe
build_program probe.cpp "$E2E_PROBE" -lgdi32 || die "the probe could not be built"
echo "booting a Wine prefix in $job/prefix"
make_template_prefix "$job/prefix"
[ -d "$job/prefix/drive_c" ] || die "wineboot failed (see $job/prefix.boot.log)"
export WINEPREFIX=$job/prefix HOME=$job/home

finish() {
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
    remove_private_tmp
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    rm -f "$(drive_c)/ZQSETUP.EXE"
}
use_private_tmp
trap finish EXIT
timeout 30 wineserver -p
start_xvfb

start_setup "$(realpath "$installer")"
read_dialog dialog || die "the setup dialog did not appear (see $job/setup.log)"
screenshot dialog
target=$(dlg 103 text)
echo "the dialog proposes $target; languages and shortcuts checked: $(check_marks) (201 202 203 105 106)"
echo "clicking OK"
click 1 || die "could not click OK"
read_message "$SUCCESS_CAPTION" success || die "no success message (see $job/setup.log)"
screenshot success
echo "message: $(message_text)"
press_message_button 1
setup_ends 30 || die "the setup did not end"

# ---- the report
folder=$(unix_path "$target")
windows_path() {
    local p=${1#"$(drive_c)"}
    printf 'C:%s' "${p//\//\\}"
}
link_report() {
    local link=$1 what
    if [ -f "$link" ]; then
        what=$(tr -d '\0' <"$link" | LC_ALL=C grep -ao 'C:\\[ -~]*ZQNG\.EXE' | head -n1)
        echo "  $(windows_path "$link") -> $what"
    else
        echo "  (no $(basename "$link") in $(windows_path "$(dirname "$link")"))"
    fi
}

echo
echo "== what the setup wrote"
echo "installed to: $target"
echo "  (on this machine: $folder)"
echo
echo "files:"
(cd "$folder" && find . -type f -printf '  %-20P %10s bytes\n' | LC_ALL=C sort)
echo
echo "registry:"
echo "  HKEY_CURRENT_USER\\Software\\ZQNavigrove"
echo "    Dir = $(reg_value "$PRODUCT_KEY" Dir)"
echo "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ Navigrove"
reg_key_values "$UNINSTALL_KEY" | while read -r name type data; do
    echo "    $name ($type) = $data"
done
echo
echo "INI:"
if [ -f "$folder/ZQNG.INI" ]; then
    echo "  $target\\ZQNG.INI:"
    tr -d '\r' <"$folder/ZQNG.INI" | sed 's/^/    /'
else
    echo "  no ZQNG.INI: with all three languages chosen and no language stored before,"
    echo "  the setup leaves the product's start language to the product (English)."
fi
echo
echo "links:"
link_report "$(start_menu_link)"
link_report "$(desktop_link)"
echo
echo "screenshots:"
echo "  $ARTIFACTS/dialog.png"
echo "  $ARTIFACTS/success.png"
echo "main-job: done"
