#!/usr/bin/env bash
# A first installation with everything the dialog proposes: English texts,
# all languages, both shortcuts, the folder under Program Files.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin fresh_install

start_setup
check "the dialog appears" read_dialog dialog-en
screenshot dialog-en
shot=$ARTIFACTS/dialog-en.png
check "texts are English" dialog_texts_are en
check "target folder proposed under Program Files" equals "$(dlg 103 text)" "$DEFAULT_TARGET"
check "all language and shortcut boxes checked" equals "$(check_marks)" 11111
check "progress line hidden" equals "$(dlg 107 visible)" 0
check "keyboard focus in the target folder" grep -q '^TOP .* focus=103$' "$DLG"

top=$(grep '^TOP ' "$DLG" | head -n1)
rect=$(sed -n 's/.* rect=\([^ ]*\).*/\1/p' <<<"$top")
IFS=, read -r l t r b <<<"$rect"
check "dialog centred on the screen" \
    equals "$l,$t" "$(((1024 - (r - l)) >> 1)),$(((768 - (b - t)) >> 1))"
style=$(sed -n 's/.* style=0x\([^ ]*\).*/\1/p' <<<"$top")
exstyle=$(sed -n 's/.* exstyle=0x\([^ ]*\).*/\1/p' <<<"$top")
check "no system menu (no close box)" equals $((0x$style & 0x00080000)) 0
check "topmost" equals $((0x$exstyle & 0x8)) 8
# 24 points at 96 dpi: capitals and descenders span well over 20 pixels,
# while the dialog's own 8-point font would give about 11.
check "title line drawn in the large font" at_least "$(ink_height "$shot" "$(dlg 101 rect)")" 20
picture_rect=$(grep '^CHILD id=-1 ' "$DLG" | sed -n 's/.* rect=\([^ ]*\).*/\1/p')
check "picture shown" at_least "$(ink_height "$shot" "$picture_rect")" 100
# The picture is stretched to its frame of 137 x 95 dialog units at the
# dialog's scale, measured here against OK's 100 x 18 (to 3 pixels).
picture_fills_its_frame() {
    local l t r b ol ot or ob want_w want_h
    IFS=, read -r l t r b <<<"$picture_rect"
    IFS=, read -r ol ot or ob <<<"$(dlg 1 rect)"
    want_w=$(((137 * (or - ol) + 50) / 100))
    want_h=$(((95 * (ob - ot) + 9) / 18))
    log "    picture $((r - l)) x $((b - t)) pixels, its frame about $want_w x $want_h"
    [ $((r - l - want_w)) -le 3 ] && [ $((want_w - r + l)) -le 3 ] &&
        [ $((b - t - want_h)) -le 3 ] && [ $((want_h - b + t)) -le 3 ]
}
check "picture fills its frame" picture_fills_its_frame

click 1
check "success message appears" read_message "$SUCCESS_CAPTION" success
screenshot success
check "success message text (English)" equals "$(message_text)" "$SUCCESS_TEXT"
press_message_button 1
check "the setup ends after the message" setup_ends 30

folder=$(unix_path "$DEFAULT_TARGET")
check "every file installed with its bytes" installed_files_are "$folder" DE US '??'
check "every file keeps its modification time" file_times_kept "$folder"
check_recorded_installation "$DEFAULT_TARGET"
# Every file of the product was written: their bytes in KiB, rounded up.
bytes=$(cd "$E2E_DEMO" && find . -type f -printf '%s\n' | awk '{ sum += $1 } END { print sum }')
check "Uninstall entry EstimatedSize: the KiB written" equals "$(uninstall_entry EstimatedSize)" \
    "REG_DWORD $(printf '0x%x' $(((bytes + 1023) / 1024)))"
# Three languages chosen and none stored before: the INI gets no language.
check "no INI language written for three languages" equals \
    "$(ini_value "$folder/ZQNG.INI" "ZQ Navigrove" Language 2>/dev/null)" ""
