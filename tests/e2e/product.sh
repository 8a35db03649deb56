# What the product should look like and leave behind: the setup dialog's
# captions and texts and how to work it, the installed files and their times,
# the registry values, the INI file and the links.

# ---- the setup dialog

DIALOG_CAPTION="  Setup ZQ Navigrove"
SUCCESS_CAPTION="  Setup "
SUCCESS_TEXT="ZQ Navigrove has been successfully installed."
DEFAULT_TARGET='C:\Program Files\Navigrove'

# Waits for the dialog and leaves its probe lines in $DLG (and everything
# the probe saw in $DLG.all).
read_dialog() {
    local name=${1:-dialog} seconds=${2:-60}
    DLG=$CASE_DIR/$name.txt
    if ! wait_window "$DIALOG_CAPTION" "$DLG.all" "$seconds"; then
        : >"$DLG"
        return 1
    fi
    window_lines "$DLG.all" "$DIALOG_CAPTION" >"$DLG"
}

# Reads the dialog again after a click (it is already shown).
reread_dialog() {
    sleep 0.3
    read_dialog "$1" 10
}

dlg() { child_field "$1" "$2" <"$DLG"; }

# Every text of the dialog as it should read in English (en) or German (de).
dialog_texts_are() {
    local lang=$1 bad=0 id want got
    local -A want_text=([1]="OK" [7]="..." [201]="Deutsch" [202]="English"
        [101]="ZQ Navigrove  V.3.20")
    if [ "$lang" = en ]; then
        want_text+=([102]="Install to:" [2]="Exit" [104]="Language"
            [105]="Put entry to Start Menu" [106]="Put icon to Desktop"
            [203]="Additional languages")
    else
        want_text+=([102]="Zielpfad:" [2]="Beenden" [104]="Sprache"
            [105]="Programmgruppe erstellen" [106]="Desktop-Icon erstellen"
            [203]="Weitere Sprachen")
    fi
    for id in "${!want_text[@]}"; do
        want=${want_text[$id]}
        got=$(dlg "$id" text)
        if [ "$got" != "$want" ]; then
            log "    control $id reads '$got', expected '$want'"
            bad=1
        fi
    done
    return $bad
}

# The check marks of 201 202 203 105 106, as a string of 0 and 1.
check_marks() {
    local id out=
    for id in 201 202 203 105 106; do
        out+=$(dlg "$id" checked)
    done
    printf '%s' "$out"
}

click() { click_child "$DLG" "$1"; }

# Replaces the target folder's text by typing, as a person would.
type_target() {
    focus_window "$DIALOG_CAPTION" || return 1
    click 103 || return 1
    timeout 10 xdotool key --clearmodifiers End shift+Home BackSpace
    timeout 30 xdotool type --delay 20 -- "$1"
}

# Installs with the dialog's proposal and defaults, or with a typed folder
# and some boxes clicked first (ids); used by cases that need an
# installation first.
install_with_defaults() {
    local target=${1:-} id
    shift
    start_setup
    read_dialog first-dialog || return 1
    if [ -n "$target" ]; then
        type_target "$target" || return 1
    fi
    for id in "$@"; do
        click "$id" || return 1
    done
    click 1 || return 1
    read_message "$SUCCESS_CAPTION" first-success || return 1
    press_message_button 1 || return 1
    setup_ends 30
}

# Presses a key in the dialog, as a person at the keyboard would.
press_key() {
    focus_window "$DIALOG_CAPTION" || return 1
    timeout 10 xdotool key --clearmodifiers "$1"
}

# ---- what was installed

# Registry value data as the system's reg tool prints it; empty when absent.
reg_value() {
    local key=$1 name=$2
    timeout 60 wine reg query "$key" /v "$name" >"$CASE_DIR/reg.out" 2>/dev/null || true
    tr -d '\r' <"$CASE_DIR/reg.out" | awk -v n="$name" '
        $1 == n && $2 ~ /^REG_/ { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print; exit }'
}

# Every value of a key, one "NAME TYPE DATA" line each (names without blanks).
reg_key_values() {
    timeout 60 wine reg query "$1" >"$CASE_DIR/reg.out" 2>/dev/null || true
    tr -d '\r' <"$CASE_DIR/reg.out" | awk '
        $2 ~ /^REG_/ { name = $1; type = $2; sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, "")
                       print name, type, $0 }'
}

reg_key_exists() {
    timeout 60 wine reg query "$1" >/dev/null 2>&1
}

ini_value() {
    local file=$1 section=$2 key=$3
    tr -d '\r' <"$file" | awk -v s="[$section]" -v k="$key" '
        /^\[/ { inside = ($0 == s); next }
        inside && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }'
}

# A shortcut file holds its target as ANSI text and its working folder as
# UTF-16; dropping the NULs makes both greppable.
link_mentions() {
    tr -d '\0' <"$1" | LC_ALL=C grep -qF "$2"
}

# The Linux path of a path on drive C:.
unix_path() {
    local p=${1#[Cc]:}
    printf '%s%s' "$(drive_c)" "${p//\\//}"
}

# Compares the install folder with the product: each file is there with the
# product's bytes exactly when its language was chosen (DE US ?? given as
# arguments), and nothing else is there but ZQNG.INI. With SETTINGS_KEPT set,
# NAVGZIP.SET need only be there (the user's copy was kept).
installed_files_are() {
    local folder=$1
    shift
    local chosen=" $* " bad=0 rel code want
    while IFS= read -r rel; do
        want=1
        case ${rel^^} in
        ZQNG_??.*)
            code=${rel:5:2}
            code=${code^^}
            case $code in
            DE | US) [[ $chosen == *" $code "* ]] || want=0 ;;
            *) [[ $chosen == *" ?? "* ]] || want=0 ;;
            esac
            ;;
        esac
        if [ $want = 1 ] && [ "$rel" = NAVGZIP.SET ] && [ -n "${SETTINGS_KEPT:-}" ]; then
            [ -f "$folder/$rel" ] || {
                log "    $rel missing"
                bad=1
            }
        elif [ $want = 1 ]; then
            if ! cmp -s "$E2E_DEMO/$rel" "$folder/$rel"; then
                log "    $rel missing or different"
                bad=1
            fi
        elif [ -e "$folder/$rel" ]; then
            log "    $rel present but its language was not chosen"
            bad=1
        fi
    done < <(cd "$E2E_DEMO" && find . -type f -printf '%P\n' | sort)
    while IFS= read -r rel; do
        if [ ! -e "$E2E_DEMO/$rel" ] && [ "$rel" != ZQNG.INI ]; then
            log "    unexpected file $rel"
            bad=1
        fi
    done < <(cd "$folder" && find . -type f -printf '%P\n' | sort)
    return $bad
}

# Every installed file carries its archive entry's modification time, which
# the archive keeps to 2 seconds.
file_times_kept() {
    local folder=$1 rel bad=0 want got
    while IFS= read -r rel; do
        [ -f "$folder/$rel" ] || continue
        want=$(stat -c %Y "$E2E_DEMO/$rel")
        got=$(stat -c %Y "$folder/$rel")
        if [ $((got - want)) -gt 2 ] || [ $((want - got)) -gt 2 ]; then
            log "    $rel: modified $(date -u -d @"$got" +%FT%T), expected $(date -u -d @"$want" +%FT%T)"
            bad=1
        fi
    done < <(cd "$E2E_DEMO" && find . -type f -printf '%P\n' | sort)
    return $bad
}

UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZQ Navigrove'
PRODUCT_KEY='HKCU\Software\ZQNavigrove'
start_menu_link() {
    printf '%s/ProgramData/Microsoft/Windows/Start Menu/Programs/Navigrove/ZQ Navigrove.lnk' \
        "$(drive_c)"
}
desktop_link() { printf '%s/Desktop/ZQ Navigrove.lnk' "$(user_dir)"; }

# The Uninstall entry's values, read once by check_recorded_installation;
# uninstall_entry NAME prints "TYPE DATA".
uninstall_entry() {
    awk -v n="$1" '$1 == n { sub(/^[^ ]+ /, ""); print; exit }' "$CASE_DIR/uninstall-entry.txt"
}

# The records of an installation into the Windows folder $1.
check_recorded_installation() {
    local target=$1 folder=${1%\\}
    check "Dir is the target folder as typed" equals "$(reg_value "$PRODUCT_KEY" Dir)" "$target"
    reg_key_values "$UNINSTALL_KEY" >"$CASE_DIR/uninstall-entry.txt"
    check "Uninstall entry DisplayName" \
        equals "$(uninstall_entry DisplayName)" "REG_SZ ZQ Navigrove"
    check "Uninstall entry UninstallString, quoted" \
        equals "$(uninstall_entry UninstallString)" "REG_SZ \"$folder\\UnInst.exe\""
    check "Uninstall entry QuietUninstallString, with /S" \
        equals "$(uninstall_entry QuietUninstallString)" "REG_SZ \"$folder\\UnInst.exe\" /S"
    check "Uninstall entry DisplayVersion" equals "$(uninstall_entry DisplayVersion)" "REG_SZ 3.20"
    check "Uninstall entry DisplayIcon" \
        equals "$(uninstall_entry DisplayIcon)" "REG_SZ $folder\\ZQNG.EXE"
    check "Uninstall entry InstallLocation" \
        equals "$(uninstall_entry InstallLocation)" "REG_SZ $folder\\"
    check "Uninstall entry NoModify" equals "$(uninstall_entry NoModify)" "REG_DWORD 0x1"
    check "Uninstall entry NoRepair" equals "$(uninstall_entry NoRepair)" "REG_DWORD 0x1"
    check "Start-menu group link exists" file_exists "$(start_menu_link)"
    check "Start-menu link points to ZQNG.EXE" \
        link_mentions "$(start_menu_link)" "$folder\\ZQNG.EXE"
    check "desktop link exists" file_exists "$(desktop_link)"
    check "desktop link points to ZQNG.EXE" \
        link_mentions "$(desktop_link)" "$folder\\ZQNG.EXE"
}
