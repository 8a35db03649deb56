# Driving windows as a person would: the probe's view of the windows (class,
# text, check state and rectangle of every control), clicks and keys through
# xdotool, message boxes, screenshots.

# The tests' own Windows programs: the probe, a console program that reads
# windows from inside Wine, and stand-ins such as hung_window.exe.
#   build_program SOURCE OUTPUT [COMPILER ARGUMENTS...]
build_program() {
    local source=$1 out=$2
    shift 2
    x86_64-w64-mingw32-g++ -Wall -Wextra -Werror -O2 -static -s -o "$out" \
        "$(dirname "${BASH_SOURCE[0]}")/$source" "$@"
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

# The height in pixels of the ink inside a control's rectangle on a screenshot.
ink_height() {
    local shot=$1 rect=$2 l t r b
    IFS=, read -r l t r b <<<"$rect"
    convert "$shot" -crop "$((r - l))x$((b - t))+$l+$t" +repage -fuzz 30% -trim \
        -format '%h' info: 2>/dev/null
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
