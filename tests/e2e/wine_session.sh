# The life of an end-to-end case: a Wine prefix and an X server of its own,
# the setup started and awaited, and checks that count failures without
# stopping the case.
#
# A case script sources this file, windows.sh and product.sh, calls
# case_begin NAME, drives the setup and calls check ... for each expectation;
# case_end (run on exit) shuts Wine and Xvfb down, removes the prefix and
# exits nonzero when a check failed.
#
# Environment (set by run.sh): E2E_DIR (work folder), E2E_TEMPLATE (a booted
# prefix to copy), E2E_INSTALLER, E2E_PROBE, E2E_HUNG_WINDOW, E2E_DEMO (the
# unpacked product).

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

# Conditions for check.
equals() { [ "$1" = "$2" ]; }
not() { ! "$@"; }
file_exists() { [ -f "$1" ]; }
no_file() { [ ! -e "$1" ]; }
same_file() { cmp -s "$1" "$2"; }
at_least() { [ "${1:-0}" -ge "$2" ]; }

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
