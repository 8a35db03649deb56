#!/usr/bin/env bash
# An update over an earlier installation in a folder of the user's choice:
# the folder and the languages are proposed from it, the user's changed
# settings file is kept, and files of languages no longer chosen go.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin update_install

target='C:\Navi'
folder=$(unix_path "$target")
check "first installation into a typed folder" install_with_defaults "$target"
check "first installation has every file" installed_files_are "$folder" DE US '??'
check "Dir is the typed folder" equals "$(reg_value "$PRODUCT_KEY" Dir)" "$target"
printf 'Zoom=9\r\n' >>"$folder/NAVGZIP.SET"
touch -d '2001-02-03 04:05:06' "$folder/NAVGZIP.SET"
cp "$folder/NAVGZIP.SET" "$CASE_DIR/settings.changed"

start_setup
check "the dialog appears for the update" read_dialog dialog-update
check "the earlier folder is proposed" equals "$(dlg 103 text)" "$target"
check "all languages preset from the help files found" equals "$(check_marks)" 11111
click 202
click 203
reread_dialog dialog-update-german
check "German alone chosen" equals "$(check_marks)" 10011
click 1
check "success message appears" read_message "$SUCCESS_CAPTION" success
press_message_button 1
check "the setup ends after the message" setup_ends 30

check "the changed settings file is kept" same_file "$CASE_DIR/settings.changed" \
    "$folder/NAVGZIP.SET"
check "the kept settings file gets the entry's time" file_times_kept "$folder"
SETTINGS_KEPT=1
check "English and further-language files removed, German ones there" \
    installed_files_are "$folder" DE
check "INI language is DE" equals "$(ini_value "$folder/ZQNG.INI" "ZQ Navigrove" Language)" DE
check_recorded_installation "$target"

# A third start proposes what the help files now say: German and the
# further-languages box (its pattern matches the German help file too).
start_setup
check "the dialog appears again" read_dialog dialog-preset-german
screenshot dialog-preset-german
check "German preset from ZQNG_DE.HLP" equals "$(check_marks)" 10111
check "texts are German" dialog_texts_are de
click 2
check "Beenden leaves the setup" setup_ends 30
