#!/usr/bin/env bash
# German alone: the dialog speaks German once English is unchecked, only the
# German language files are installed and the INI language becomes "DE".
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin german_only

start_setup
check "the dialog appears" read_dialog dialog-start
click 202
reread_dialog dialog-english-unchecked
check "unchecking English switches the texts to German" dialog_texts_are de
click 203
reread_dialog dialog-de
screenshot dialog-de
check "texts are German" dialog_texts_are de
check "only Deutsch and the shortcut boxes checked" equals "$(check_marks)" 10011

# Enter acts as OK.
check "pressing Enter" press_key Return
check "success message appears" read_message "$SUCCESS_CAPTION" success
screenshot success-after-german
check "success message is English even so" equals "$(message_text)" "$SUCCESS_TEXT"
press_message_button 1
check "the setup ends after the message" setup_ends 30

folder=$(unix_path "$DEFAULT_TARGET")
check "German files installed, English and further languages absent" \
    installed_files_are "$folder" DE
check "INI language is DE" equals "$(ini_value "$folder/ZQNG.INI" "ZQ Navigrove" Language)" DE
check_recorded_installation "$DEFAULT_TARGET"
