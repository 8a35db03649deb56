#!/usr/bin/env bash
# UnInst.exe asks, then removes what the setup installed: files, the
# Start-menu group, the desktop link, the Uninstall entry and "Dir".
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin uninstall

folder=$(unix_path "$DEFAULT_TARGET")
caption="ZQ Navigrove Uninstall"
check "the product is installed first" install_with_defaults

(cd "$folder" && exec wine UnInst.exe >"$CASE_DIR/uninst.log" 2>&1) &
uninst_pid=$!
check "the uninstaller asks" read_message "$caption" ask
check "its question" equals "$(message_text)" "Remove ZQ Navigrove and all of its components?"
press_message_button 7
check "No ends the uninstaller" timeout 30 tail --pid="$uninst_pid" -f /dev/null
check "No keeps every file" installed_files_are "$folder" DE US '??'

(cd "$folder" && exec wine UnInst.exe >"$CASE_DIR/uninst.log" 2>&1) &
check "the uninstaller asks again" read_message "$caption" ask-again
screenshot uninstall-question
press_message_button 6
removed_message() {
    local i
    for i in $(seq 30); do
        read_message "$caption" removed 10 && [ "$(message_text)" = "ZQ Navigrove has been removed." ] &&
            return 0
        sleep 0.5
    done
    return 1
}
check "the uninstaller reports the removal" removed_message
screenshot uninstall-done

check "the install folder is gone" no_file "$folder"
check "the Start-menu group is gone" no_file "$(dirname "$(start_menu_link)")"
check "the desktop link is gone" no_file "$(desktop_link)"
check "the Uninstall entry is gone" not reg_key_exists "$UNINSTALL_KEY"
check "Dir is gone" equals "$(reg_value "$PRODUCT_KEY" Dir)" ""
press_message_button 1
