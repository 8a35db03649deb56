#!/usr/bin/env bash
# The "..." button opens the folder browser at the proposed folder (at its
# parent while the folder does not exist yet); OK writes the chosen folder
# into the box, Cancel changes nothing.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin folder_browser

browser="Browse for Folder"
start_setup
check "the dialog appears" read_dialog dialog
click 7
check "the folder browser opens" read_message "$browser" browser
screenshot folder-browser
press_message_button 2
reread_dialog dialog-cancelled
check "Cancel keeps the proposal" equals "$(dlg 103 text)" "$DEFAULT_TARGET"

click 7
check "the folder browser opens again" read_message "$browser" browser-again
press_message_button 1
reread_dialog dialog-parent
check "OK on a proposal not yet there gives its parent" equals "$(dlg 103 text)" 'C:\Program Files'

check "typing an existing folder" type_target 'C:\windows\system32'
click 7
check "the folder browser opens on it" read_message "$browser" browser-existing
press_message_button 1
reread_dialog dialog-existing
check "OK keeps the existing folder" equals "$(dlg 103 text)" 'C:\windows\system32'
click 2
check "Exit leaves the setup" setup_ends 30
