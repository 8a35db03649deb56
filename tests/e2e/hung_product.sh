#!/usr/bin/env bash
# A copy of the product whose thread no longer handles messages (hung) does
# not keep the setup from starting: WM_DESTROY is sent with a timeout, and the
# dialog appears once the 3-second bound for closing running copies is over.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin hung_product

(cd "$(drive_c)" && exec wine "$E2E_HUNG_WINDOW" >"$CASE_DIR/hung.log" 2>&1) &
hung_pid=$!
# Its X window, without a message to the hung window itself.
hung_window_shown() {
    timeout 60 xdotool search --sync --onlyvisible --name '^ZQ Navigrove 3\.20 \[hung\]$' \
        >/dev/null
}
check "the hung window is shown" hung_window_shown

started=$(date +%s%3N)
start_setup
check "the dialog appears" read_dialog dialog 30
screenshot hung-product-dialog
shown=$(sed -n 's/^FOUND at=//p' "$DLG.all" 2>/dev/null)
elapsed=
[ -n "$shown" ] && elapsed=$((shown - started)) &&
    log "    the dialog appeared ${elapsed} ms after the setup was started"
check "the dialog appears within 4.5 s" test -n "$elapsed" -a "${elapsed:-0}" -le 4500
check "the hung window is still there" grep -q '^TOP class="ZQ Navigrove" ' "$DLG.all"
check "the dialog works: Esc leaves" press_key Escape
check "the setup ends" setup_ends 30
kill "$hung_pid" 2>/dev/null
