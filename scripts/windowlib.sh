# shellcheck shell=bash
# Sourced by screenshot, wm-test and package-test: finds the window of a program the script started and
# checks its title against the one its build gives it. Neither depends on the locale the script
# runs in, the POSIX one included: the window is found by the program's process id, and the
# title is compared as bytes.

# window_title BUILD: prints the window's caption for the program built in BUILD, with the
# version CMake generated there; fails, saying why, when the build holds none.
window_title() {
    local header="$1/generated/version.h" version
    version="$(sed -n 's/^#define TARVIK2_VERSION "\(.*\)"$/\1/p' "$header")" || return 1
    if [ -z "$version" ]; then
        echo "no version in $header" >&2
        return 1
    fi
    printf 'ТАРВИК2 V%s' "$version"
}

# wait_for_window PID: prints the id of the first visible window of process PID once it is
# there; fails if none comes within 60 s.
wait_for_window() {
    # --limit 1: xdotool stops at the first match, so no pipe can cut it short.
    timeout 60 xdotool search --sync --onlyvisible --limit 1 --pid "$1"
}

# The bytes of a text as two-digit hex numbers, one blank before each.
text_bytes() {
    printf '%s' "$1" | od -An -v -tx1 | awk '{for (i = 1; i <= NF; i++) printf " %s", $i}'
}

# The bytes of an 8-bit property of a window, in the same form; nothing when it has none.
property_bytes() {
    xprop -id "$1" -notype -f "$2" 8x ' $0+\n' "$2" | awk -v name="$2" '
        $1 != name {exit}
        {for (i = 2; i <= NF; i++) {t = $i; gsub(/0x|,/, "", t); printf " %s", (length(t) == 1 ? "0" t : t)}}'
}

# check_title WINDOW TITLE: the window's _NET_WM_NAME holds exactly the UTF-8 bytes of TITLE,
# and its WM_NAME, which older tools read, reads as TITLE too in a UTF-8 locale (C.UTF-8, which
# every Debian system has). Says what the window has instead when either is off.
check_title() {
    local wid="$1" title="$2" want net old status=0
    want="$(text_bytes "$title")"
    net="$(property_bytes "$wid" _NET_WM_NAME)" || net=" (xprop failed)"
    if [ "$net" != "$want" ]; then
        echo "window $wid: _NET_WM_NAME is not \"$title\"" >&2
        echo "  want:$want" >&2
        echo "  got: ${net:- none}" >&2
        status=1
    fi
    old="$(LC_ALL=C.UTF-8 xprop -id "$wid" -notype WM_NAME)" || old=""
    if [ "$old" != "WM_NAME = \"$title\"" ]; then
        echo "window $wid: WM_NAME does not read as \"$title\"; it has:" >&2
        xprop -id "$wid" -f WM_NAME 8x ' $0+\n' WM_NAME >&2 || true
        status=1
    fi
    return $status
}

# until_true SECONDS COMMAND...: runs COMMAND every tenth of a second until it succeeds; fails
# after SECONDS. For states with no window to wait on (a frame's place, a process's end).
until_true() {
    local limit=$(($1 * 10)) i
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# start_window_manager: openbox on the X server of DISPLAY, stopped when the script ends
# (simlib.sh's cleanup_steps); returns once it manages the screen.
start_window_manager() {
    cleanup_steps+=(stop_window_manager)
    openbox &
    window_manager=$!
    until_true 10 window_manager_running || { echo "openbox did not take the screen" >&2; exit 1; }
}
window_manager_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
stop_window_manager() { [ -z "${window_manager:-}" ] || kill "$window_manager" 2>/dev/null || true; }
