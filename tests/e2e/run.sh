#!/usr/bin/env bash
# The end-to-end tests: the real ZQSETUP.EXE with the demo product, installed
# under Wine on a virtual display, driven with the mouse and the keyboard.
#
#   tests/e2e/run.sh [CASE...]        default: every case; CASE is a script name
#
# Builds the installer (scripts/build-installer.sh) and the probe, boots one
# Wine prefix as a template, then runs each case with its own copy of it and
# its own Xvfb. Screenshots are kept in build/e2e/artifacts (ZQ_E2E_DIR).
# The last line is "e2e: N passed, N failed"; the exit status is nonzero when
# a case failed.
set -uo pipefail
cd "$(dirname "$0")/../.."
here=tests/e2e
started=$(date +%s)

E2E_DIR=$(realpath -m "${ZQ_E2E_DIR:-build/e2e}")
export E2E_DIR
export E2E_TEMPLATE=$E2E_DIR/template
export E2E_PROBE=$E2E_DIR/probe.exe
export E2E_HUNG_WINDOW=$E2E_DIR/hung_window.exe
export E2E_INSTALLER=$E2E_DIR/ZQSETUP.EXE
export E2E_DEMO
E2E_DEMO=$(realpath -m "${ZQ_MINGW_BUILD:-build/mingw}/demo/product")

source $here/wine_session.sh
source $here/windows.sh

cases=("$@")
if [ ${#cases[@]} = 0 ]; then
    cases=(resources fresh_install german_only update_install missing_drive
        folder_browser running_product hung_product damaged_installer signed_installer uninstall
        silent_install)
fi

fail_setup() {
    echo "e2e: $1"
    echo "e2e: 0 passed, ${#cases[@]} failed"
    exit 1
}

rm -rf "$E2E_DIR/cases" "$E2E_DIR/artifacts"
mkdir -p "$E2E_DIR/logs" "$E2E_DIR/artifacts"
bash scripts/build-installer.sh "$E2E_INSTALLER" >"$E2E_DIR/logs/build.log" 2>&1 ||
    { tail -n 30 "$E2E_DIR/logs/build.log"; fail_setup "the installer could not be built"; }
build_program probe.cpp "$E2E_PROBE" -lgdi32 || fail_setup "the probe could not be built"
build_program hung_window.cpp "$E2E_HUNG_WINDOW" -mwindows ||
    fail_setup "hung_window.exe could not be built"
echo "e2e: booting the template prefix"
make_template_prefix "$E2E_TEMPLATE"
[ -d "$E2E_TEMPLATE/drive_c" ] || fail_setup "wineboot failed (see $E2E_TEMPLATE.boot.log)"

passed=0
failed=0
for name in "${cases[@]}"; do
    t0=$(date +%s)
    timeout -k 30 300 bash "$here/$name.sh" >"$E2E_DIR/logs/$name.log" 2>&1
    status=$?
    # A case that was killed cannot have cleaned up after itself.
    if [ -f "$E2E_DIR/cases/$name/tmpdir" ]; then
        PRIVATE_TMP=$(cat "$E2E_DIR/cases/$name/tmpdir")
        if [ -d "$PRIVATE_TMP" ]; then
            TMPDIR=$PRIVATE_TMP WINEPREFIX=$E2E_DIR/cases/$name/prefix timeout 20 wineserver -k \
                2>/dev/null
            remove_private_tmp
            rm -rf "$E2E_DIR/cases/$name/prefix"
        fi
    fi
    if [ -f "$E2E_DIR/cases/$name/xvfb.pid" ]; then
        kill "$(cat "$E2E_DIR/cases/$name/xvfb.pid")" 2>/dev/null
    fi
    cat "$E2E_DIR/logs/$name.log"
    if [ $status = 0 ]; then
        passed=$((passed + 1))
    else
        [ $status = 124 ] && echo "# $name: timed out"
        failed=$((failed + 1))
    fi
    echo "# $name: $(($(date +%s) - t0)) s"
done

rm -rf "$E2E_TEMPLATE"
echo "e2e: wall time $(($(date +%s) - started)) s; screenshots in $E2E_DIR/artifacts"
echo "e2e: $passed passed, $failed failed"
[ $failed = 0 ]
