#!/usr/bin/env bash
# A target on a drive that does not exist: "Cannot create path." with the
# folder as caption, in the dialog's language, and the dialog stays open.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin missing_drive

target='Q:\Navigrove'
start_setup
check "the dialog appears" read_dialog dialog-start
check "typing the target folder" type_target "$target"
reread_dialog dialog-typed
check "the typed folder is in the box" equals "$(dlg 103 text)" "$target"
click 1
check "a message captioned with the folder appears" read_message "$target" cannot-create
screenshot message-cannot-create-path
check "it says Cannot create path." equals "$(message_text)" "Cannot create path."
press_message_button 1
check "the dialog stays open" read_dialog dialog-after 10
check "the setup still runs" setup_running
check "the shortcut boxes are still shown" equals "$(dlg 105 visible)$(dlg 106 visible)" 11
check "nothing recorded" equals "$(reg_value "$PRODUCT_KEY" Dir)" ""

# The same in German.
click 202
reread_dialog dialog-german
click 1
check "the German message appears" read_message "$target" cannot-create-de
screenshot message-cannot-create-path-de
check "it says Kann nicht Verzeichnis erstellen." \
    equals "$(message_text)" "Kann nicht Verzeichnis erstellen."
press_message_button 1
check "the dialog stays open" read_dialog dialog-after-de 10
click 2
check "Beenden leaves the setup" setup_ends 30
