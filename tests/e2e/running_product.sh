#!/usr/bin/env bash
# A running ZQNG.EXE is closed before the setup's dialog appears.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin running_product

folder=$(unix_path "$DEFAULT_TARGET")
# German only, so that the product starts in German: ZQNG.INI says "DE".
check "the product is installed first" install_with_defaults "" 202 203
(cd "$folder" && exec wine ZQNG.EXE >"$CASE_DIR/zqng.log" 2>&1) &
product_pid=$!
check "the product's window is shown" wait_window "ZQ Navigrove 3.20 [DE]" "$CASE_DIR/product.txt"
check "its window class is ZQ Navigrove" grep -q '^TOP class="ZQ Navigrove" ' "$CASE_DIR/product.txt"
screenshot product-running

start_setup
check "the dialog appears" read_dialog dialog
check "no product window once the dialog is shown" \
    not grep -q '^TOP class="ZQ Navigrove" ' "$DLG.all"
check "the product's process has ended" timeout 20 tail --pid="$product_pid" -f /dev/null
# Esc acts as Exit.
check "pressing Esc" press_key Escape
check "Esc leaves the setup" setup_ends 30
