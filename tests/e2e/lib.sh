# Helpers shared by the end-to-end cases: a Wine prefix and an X server per
# case, a person's clicks and keys through xdotool, the probe's view of the
# windows, and checks that count failures without stopping the case.
#
# A case script sources this file, calls case_begin NAME, drives the setup and
# calls check ... for each expectation; case_end (run on exit) shuts Wine and
# Xvfb down, removes the prefix and exits nonzero when a check failed.
#
# Environment (set by run.sh): E2E_DIR (work folder), E2E_TEMPLATE (a booted
# prefix to copy), E2E_INSTALLER, E2E_PROBE, E2E_DEMO (the unpacked product).

export WINEARCH=win64
# The installer's archive holds the product files' times as local times in
# UTC (scripts/build-installer.sh); Wine takes its time zone from TZ, so that
# installed files get the very times the product folder has.
export TZ=UTC0
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

CASE_FAILURES=0
XVFB_PID=
SETUP_PID=

log() { printf '%s\n' "$*"; }

check() {
    local what=$1
    shift
    if "$@"; then
        log "  ok   - $what"
    else
        log "  FAIL - $what"
        CASE_FAILURES=$((CASE_FAILURES + 1))
    fi
}

# A prefix's Windows folders, from Linux.
drive_c() { printf '%s/drive_c' "$WINEPREFIX"; }
user_dir() { printf '%s/drive_c/users/%s' "$WINEPREFIX" "$(id -un)"; }

# Boots a prefix the way every case needs it: fonts, no window manager, and
# real user folders instead of links into $HOME (the desktop link must land in
# the prefix). run.sh calls it once; cases copy the result.
make_template_prefix() {
    local prefix=$1
    rm -rf "$prefix"
    mkdir -p "$prefix.home"
    (
        export WINEPREFIX=$prefix HOME=$prefix.home
        use_private_tmp
        timeout 180 wineboot -u >"$prefix.boot.log" 2>&1
        timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            >>"$prefix.boot.log" 2>&1
        timeout 60 wineserver -w
        cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
        local d
        for d in "$prefix/drive_c/users/$(id -un)"/*; do
            if [ -L "$d" ]; then
                rm "$d"
                mkdir "$d"
            fi
        done
        remove_private_tmp
    )
    rm -rf "$prefix.home"
}

# The probe: a console program of ours that reads windows from inside Wine.
build_probe() {
    x86_64-w64-mingw32-g++ -Wall -Wextra -Werror -O2 -static -s -o "$1" \
        "$(dirname "${BASH_SOURCE[0]}")/probe.cpp" -lgdi32
}

# Debian's Wine keeps its server socket in $TMPDIR/wine-XXXXXX, which outlives
# the server: each prefix gets a temporary folder of its own, removed when the
# prefix's server is gone. (Short, under /tmp: a socket path has a limit.)
PRIVATE_TMP=
use_private_tmp() {
    PRIVATE_TMP=$(mktemp -d /tmp/zq-e2e.XXXXXX) || return 1
    export TMPDIR=$PRIVATE_TMP
}

remove_private_tmp() {
    case $PRIVATE_TMP in
    /tmp/zq-e2e.?*) rm -rf "$PRIVATE_TMP" ;;
    esac
}

case_begin() {
    CASE=$1
    CASE_DIR=$E2E_DIR/cases/$CASE
    ARTIFACTS=$E2E_DIR/artifacts
    rm -rf "$CASE_DIR"
    mkdir -p "$CASE_DIR/home" "$ARTIFACTS"
    export HOME=$CASE_DIR/home
    export WINEPREFIX=$CASE_DIR/prefix
    trap case_end EXIT
    trap 'exit 124' TERM INT
    cp -a "$E2E_TEMPLATE" "$WINEPREFIX"
    rm -f "$WINEPREFIX/wineserver"
    use_private_tmp
    echo "$PRIVATE_TMP" >"$CASE_DIR/tmpdir"
    # One server for the whole case, started before any program: two programs
    # started at once would otherwise each start a server of their own.
    timeout 30 wineserver -p
    start_xvfb
    log "# $CASE"
}

start_xvfb() {
    local dispfile=$CASE_DIR/display
    : >"$dispfile"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dispfile" \
        >"$CASE_DIR/xvfb.log" 2>&1 &
    XVFB_PID=$!
    echo "$XVFB_PID" >"$CASE_DIR/xvfb.pid"
    local i
    for i in $(seq 100); do
        [ -s "$dispfile" ] && break
        sleep 0.1
    done
    export DISPLAY=:$(head -n1 "$dispfile")
}

case_end() {
    local status=$?
    trap - EXIT
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        timeout 20 wineserver -k >/dev/null 2>&1 || true
        timeout 30 wineserver -w >/dev/null 2>&1 || true
    fi
    remove_private_tmp
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        timeout 10 tail --pid="$XVFB_PID" -f /dev/null || kill -9 "$XVFB_PID" 2>/dev/null || true
    fi
    [ "$status" = 0 ] || CASE_FAILURES=$((CASE_FAILURES + 1))
    if [ "$CASE_FAILURES" = 0 ]; then
        rm -rf "$CASE_DIR"
        log "# $CASE: passed"
        exit 0
    fi
    # Keep the logs of a failed case, not its 700 MB prefix.
    rm -rf "$WINEPREFIX"
    log "# $CASE: $CASE_FAILURES failed (logs in $CASE_DIR)"
    exit 1
}

# Runs a Windows program to its end. Output goes to files: a pipe would wait
# for Wine's helper processes as well.
wine_run() {
    local out=$1
    shift
    timeout 120 wine "$@" >"$out" 2>"$out.err"
}

# Starts the installer in the background; SETUP_PID is its process.
start_setup() {
    local installer=${1:-$E2E_INSTALLER}
    cp "$installer" "$(drive_c)/ZQSETUP.EXE"
    (cd "$(drive_c)" && exec wine ZQSETUP.EXE >"$CASE_DIR/setup.log" 2>&1) &
    SETUP_PID=$!
}

# Waits for the setup process to end; 0 when it did within the time.
setup_ends() {
    timeout "${1:-60}" tail --pid="$SETUP_PID" -f /dev/null
}

setup_running() {
    kill -0 "$SETUP_PID" 2>/dev/null
}

# Waits until a window with exactly this caption is shown and writes the
# probe's view of every window to FILE.
wait_window() {
    local caption=$1 file=$2 seconds=${3:-60}
    timeout $((seconds + 30)) wine "$E2E_PROBE" wait "$caption" "$seconds" \
        >"$file.raw" 2>"$file.err"
    local rc=$?
    tr -d '\r' <"$file.raw" >"$file"
    rm -f "$file.raw"
    return $rc
}

# The probe lines of one top-level window (by caption) and its children.
# The caption goes through the environment: awk -v would read its
# backslashes as escapes.
window_lines() {
    CAPTION_FIELD="text=\"$2\"" awk '
        /^TOP / { inside = index($0, ENVIRON["CAPTION_FIELD"]) > 0 }
        inside' "$1"
}

# A field of the child with the given id, from window_lines output on stdin.
child_field() {
    awk -v id="id=$1" -v f=" $2=" '
        $1 == "CHILD" && $2 == id {
            i = index($0, f)
            if (!i) exit
            s = substr($0, i + length(f))
            if (substr(s, 1, 1) == "\"") {
                s = substr(s, 2)
                print substr(s, 1, index(s, "\"") - 1)
            } else {
                sub(/ .*/, "", s)
                print s
            }
            exit
        }'
}

# Clicks the middle of the child with the given id, as a person would.
click_child() {
    local lines=$1 id=$2 rect l t r b
    rect=$(child_field "$id" rect <"$lines")
    IFS=, read -r l t r b <<<"$rect"
    [ -n "$b" ] || return 1
    timeout 10 xdotool mousemove --sync $(((l + r) / 2)) $(((t + b) / 2)) click 1
}

# Puts the X keyboard focus on the top-level window with this caption.
focus_window() {
    local caption=$1 w
    w=$(timeout 20 xdotool search --sync --onlyvisible --name "^$caption\$" | head -n1)
    [ -n "$w" ] || return 1
    timeout 20 xdotool windowfocus --sync "$w"
}

screenshot() {
    timeout 30 import -window root "$ARTIFACTS/$1.png"
}

# Registry value data as the system's reg tool prints it; empty when absent.
reg_value() {
    local key=$1 name=$2
    timeout 60 wine reg query "$key" /v "$name" >"$CASE_DIR/reg.out" 2>/dev/null || true
    tr -d '\r' <"$CASE_DIR/reg.out" | awk -v n="$name" '
        $1 == n && $2 ~ /^REG_/ { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print; exit }'
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

equals() { [ "$1" = "$2" ]; }
not() { ! "$@"; }
file_exists() { [ -f "$1" ]; }
no_file() { [ ! -e "$1" ]; }
same_file() { cmp -s "$1" "$2"; }

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

# Waits for a message box with this caption, keeps its lines in $MSG.
read_message() {
    local caption=$1 name=${2:-message} seconds=${3:-120}
    MSG=$CASE_DIR/$name.txt
    if ! wait_window "$caption" "$MSG.all" "$seconds"; then
        : >"$MSG"
        return 1
    fi
    window_lines "$MSG.all" "$caption" >"$MSG"
}

# The message box's text: its static control with text.
message_text() {
    grep '^CHILD ' "$MSG" | grep 'class="Static"' | grep -v 'text=""' | head -n1 |
        sed 's/.* text="\([^"]*\)".*/\1/'
}

# Presses a message box's button by its id (1 OK, 6 Yes, 7 No).
press_message_button() {
    click_child "$MSG" "${1:-1}"
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

# The records of an installation into the Windows folder $1.
check_recorded_installation() {
    local target=$1
    check "Dir is the target folder as typed" equals "$(reg_value "$PRODUCT_KEY" Dir)" "$target"
    check "Uninstall entry DisplayName" \
        equals "$(reg_value "$UNINSTALL_KEY" DisplayName)" "ZQ Navigrove"
    check "Uninstall entry UninstallString" \
        equals "$(reg_value "$UNINSTALL_KEY" UninstallString)" "${target%\\}\\UnInst.exe"
    check "Start-menu group link exists" file_exists "$(start_menu_link)"
    check "Start-menu link points to ZQNG.EXE" \
        link_mentions "$(start_menu_link)" "${target%\\}\\ZQNG.EXE"
    check "desktop link exists" file_exists "$(desktop_link)"
    check "desktop link points to ZQNG.EXE" \
        link_mentions "$(desktop_link)" "${target%\\}\\ZQNG.EXE"
}

# The height in pixels of the ink inside a control's rectangle on a screenshot.
ink_height() {
    local shot=$1 rect=$2 l t r b
    IFS=, read -r l t r b <<<"$rect"
    convert "$shot" -crop "$((r - l))x$((b - t))+$l+$t" +repage -fuzz 30% -trim \
        -format '%h' info: 2>/dev/null
}

at_least() { [ "${1:-0}" -ge "$2" ]; }
