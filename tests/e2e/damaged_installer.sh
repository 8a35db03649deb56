#!/usr/bin/env bash
# An installer with one byte of packed data inverted: "Cannot install file."
# with the entry's name, no damaged file left, the dialog stays open. Then a
# download cut short inside a file header: "Cannot install file." with the
# setup's own file name, the entries before the cut written, the dialog open.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin damaged_installer

entry='MAPS\ASIA.MAP'
python3 "$(dirname "$0")/installer_archive.py" damage "$E2E_INSTALLER" "$CASE_DIR/damaged.exe" \
    "$entry" >"$CASE_DIR/entries.txt"
folder=$(unix_path "$DEFAULT_TARGET")

start_setup "$CASE_DIR/damaged.exe"
check "the dialog appears" read_dialog dialog
click 1
check "a message captioned with the entry's name appears" read_message "$entry" cannot-install
screenshot message-cannot-install-file
check "it says Cannot install file." equals "$(message_text)" "Cannot install file."
press_message_button 1
check "the dialog stays open" read_dialog dialog-after 10
check "the setup still runs" setup_running
check "the progress line shows the entry" equals "$(dlg 107 visible) $(dlg 107 text)" "1 $entry"
check "the damaged file is not left" no_file "$folder/${entry//\\//}"

# The entries listed in $1 before the one marked "* " are written, that one
# and those after it are not.
entries_before_are_written() {
    local name bad=0 before=1
    while IFS= read -r name; do
        if [ "${name:0:2}" = "* " ]; then
            before=0
            name=${name:2}
        fi
        local path=$folder/${name//\\//}
        # Folder entries are passed over; folders come with their files.
        [ -d "$E2E_DEMO/${name//\\//}" ] && continue
        if [ $before = 1 ] && ! cmp -s "$E2E_DEMO/${name//\\//}" "$path"; then
            log "    $name (before the damage) not written"
            bad=1
        elif [ $before = 0 ] && [ -e "$path" ]; then
            log "    $name (from the damage on) written"
            bad=1
        fi
    done <"$1"
    return $bad
}
check "entries before it written, entries after it not" \
    entries_before_are_written "$CASE_DIR/entries.txt"
check "no Uninstall entry" equals "$(reg_value "$UNINSTALL_KEY" DisplayName)" ""
click 2
check "Exit leaves the setup" setup_ends 30

rm -rf "$folder"
python3 "$(dirname "$0")/installer_archive.py" cut "$E2E_INSTALLER" "$CASE_DIR/cut.exe" \
    ZQNG.DAT >"$CASE_DIR/cut-entries.txt"
start_setup "$CASE_DIR/cut.exe"
check "the cut installer's dialog appears" read_dialog dialog-cut
click 1
check "a message captioned with the setup's file name appears" \
    read_message ZQSETUP.EXE cut-short
screenshot message-cut-download
check "it says Cannot install file." equals "$(message_text)" "Cannot install file."
press_message_button 1
check "the dialog stays open after the cut" read_dialog dialog-after-cut 10
check "entries before the cut written, the rest not" \
    entries_before_are_written "$CASE_DIR/cut-entries.txt"
check "no Uninstall entry after the cut" equals "$(reg_value "$UNINSTALL_KEY" DisplayName)" ""
click 2
check "Exit leaves the cut setup" setup_ends 30
