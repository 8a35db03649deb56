#!/usr/bin/env bash
# The unattended setup as a deployment tool runs it: /S with the folder, the
# languages and the shortcuts on the command line, no window at all, the
# outcome as the exit code and in the log; a damaged installer fails with the
# entry's name in the log; a log on a FIFO is refused without waiting; the
# Uninstall entry's QuietUninstallString removes everything without a word.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin silent_install

target='C:\Tools\Nav Grove'
folder=$(unix_path "$target")
cp "$E2E_INSTALLER" "$(drive_c)/ZQSETUP.EXE"

# Without /S a refused argument is named in a message box, with the usage.
(cd "$(drive_c)" && exec wine ZQSETUP.EXE /LANG=FR >"$CASE_DIR/refused.out" 2>&1) &
refused_pid=$!
check "a refused argument is shown" read_message "$DIALOG_CAPTION" refused
screenshot message-refused-argument
check "the message names it" equals "$(message_text | cut -c1-33)" 'Cannot use the argument\n/LANG=FR'
press_message_button 1
wait "$refused_pid"
check "then the setup exits with 87" equals "$?" 87

# A damaged installer, run by wine itself, which waits for the program and
# passes its exit code on.
entry='MAPS\ASIA.MAP'
python3 "$(dirname "$0")/installer_archive.py" damage "$E2E_INSTALLER" "$(drive_c)/DAMAGED.EXE" \
    "$entry" >"$CASE_DIR/entries.txt"
(cd "$(drive_c)" && timeout 120 wine DAMAGED.EXE /S '/LOG=C:\damaged.log' '/D=C:\Damaged' \
    >"$CASE_DIR/damaged.out" 2>&1)
check "the damaged installer exits with 2" equals "$?" 2
tr -d '\r' <"$(drive_c)/damaged.log" >"$CASE_DIR/damaged.log"
check "its log names the entry" \
    grep -qxF "message: Cannot install file. ($entry)" "$CASE_DIR/damaged.log"
check "its log ends with the result" \
    equals "$(tail -n1 "$CASE_DIR/damaged.log")" "result: 2 (extraction failed)"
check "the damaged file is not left" no_file "$(unix_path 'C:\Damaged')/MAPS/ASIA.MAP"

# A log that would block a writer without a reader is not opened for writing.
mkfifo "$(drive_c)/fifo.log"
(cd "$(drive_c)" && timeout 60 wine ZQSETUP.EXE /S '/LOG=C:\fifo.log' '/D=C:\Other' \
    >"$CASE_DIR/fifo.out" 2>&1)
check "a FIFO as log: exit code 87 at once" equals "$?" 87
check "nothing installed then" no_file "$(unix_path 'C:\Other')"

# The probe starts the setup with exactly this command line and dumps every
# window of the process that shows.
command="C:\\ZQSETUP.EXE /S /LANG=DE /NODESKTOP /LOG=C:\\setup.log /D=$target"
run_silently() {
    local out=$1
    shift
    (cd "$(drive_c)" && timeout 150 wine "$E2E_PROBE" run 120 "$1" >"$out.raw" 2>"$out.err")
    local rc=$?
    tr -d '\r' <"$out.raw" >"$out"
    return $rc
}
check "the silent setup runs to its end" run_silently "$CASE_DIR/run.txt" "$command"
check "it exits with 0" grep -qx 'EXIT code=0' "$CASE_DIR/run.txt"
check "it shows no window" not grep -q '^TOP ' "$CASE_DIR/run.txt"

check "German files installed, English and further languages absent" \
    installed_files_are "$folder" DE
check "every file keeps its modification time" file_times_kept "$folder"
check "Dir is the folder given" equals "$(reg_value "$PRODUCT_KEY" Dir)" "$target"
reg_key_values "$UNINSTALL_KEY" >"$CASE_DIR/uninstall-entry.txt"
check "Uninstall entry UninstallString, quoted" \
    equals "$(uninstall_entry UninstallString)" "REG_SZ \"$target\\UnInst.exe\""
check "Uninstall entry QuietUninstallString, with /S" \
    equals "$(uninstall_entry QuietUninstallString)" "REG_SZ \"$target\\UnInst.exe\" /S"
check "INI language is DE" equals "$(ini_value "$folder/ZQNG.INI" "ZQ Navigrove" Language)" DE
check "Start-menu link points to ZQNG.EXE" link_mentions "$(start_menu_link)" "$target\\ZQNG.EXE"
check "no desktop link" no_file "$(desktop_link)"

log_file=$(drive_c)/setup.log
tr -d '\r' <"$log_file" >"$CASE_DIR/setup.log"
cp "$CASE_DIR/setup.log" "$ARTIFACTS/silent-install.log"
log_has() { grep -qxF -- "$1" "$CASE_DIR/setup.log"; }
check "the log starts with the product and the arguments" grep -qE \
    "^ZQ Navigrove 3\.20 setup, [0-9-]+ [0-9:]+, arguments: /S /LANG=DE /NODESKTOP /LOG=C:.setup.log /D=C:.Tools.Nav Grove$" \
    "$CASE_DIR/setup.log"
check "the log names the folder" log_has "folder: $target"
check "the log names the languages" log_has "languages: DE"
check "the log names the shortcuts" log_has "shortcuts: Start menu"
check "the log lists the entries written" log_has 'entry: MAPS\EUROPE.MAP'
check "the log lists the entries passed over" log_has 'entry: ZQNG_US.HLP (not written)'
check "the log keeps the success message" \
    log_has "message: ZQ Navigrove has been successfully installed. (  Setup )"
check "the log ends with the result" equals "$(tail -n1 "$CASE_DIR/setup.log")" "result: 0 (installed)"

# The silent removal, as a deployment tool runs it from the Uninstall entry.
# A file of someone else's under the name the copy once took stays as it is.
timeout 60 wine cmd /c echo %TEMP% >"$CASE_DIR/temp.txt" 2>/dev/null
temp_dir=$(unix_path "$(tr -d '\r' <"$CASE_DIR/temp.txt")")
echo "not the uninstaller" >"$temp_dir/ZQUnInst.exe"
quiet=$(reg_value "$UNINSTALL_KEY" QuietUninstallString)
check "the silent uninstaller runs to its end" run_silently "$CASE_DIR/uninstall.txt" "$quiet"
check "it exits with 0" grep -qx 'EXIT code=0' "$CASE_DIR/uninstall.txt"
check "it shows no window" not grep -q '^TOP ' "$CASE_DIR/uninstall.txt"
# Its copy in the temporary folder finishes the work a moment later.
removed() {
    local i
    for i in $(seq 60); do
        [ ! -e "$folder" ] && ! reg_key_exists "$UNINSTALL_KEY" && return 0
        sleep 0.5
    done
    return 1
}
check "the install folder and the Uninstall entry go" removed
check "the Start-menu group is gone" no_file "$(dirname "$(start_menu_link)")"
check "Dir is gone" equals "$(reg_value "$PRODUCT_KEY" Dir)" ""
check "the other file in the temporary folder is untouched" \
    equals "$(cat "$temp_dir/ZQUnInst.exe")" "not the uninstaller"
check "the copy ran under a name of its own" \
    test -n "$(find "$temp_dir" -maxdepth 1 -name 'ZQUnInst-*.exe' -print -quit)"
timeout 60 wine "$E2E_PROBE" dump >"$CASE_DIR/after.txt" 2>&1
check "no window is left (the copy asked nothing either)" not grep -q '^TOP ' "$CASE_DIR/after.txt"
