# shellcheck shell=bash
# Starts an Xvfb of the caller's own; sourced by run.sh and test.sh.
#   start_xvfb LOG [SIZE]
# Display :$CLIPMEND_DISPLAY when that is set, else a free one Xvfb picks. On success DISPLAY is
# exported and xvfb_pid names the server (the caller ends it by that id); on failure it
# returns non-zero with the log shown and xvfb_pid empty.
start_xvfb() {
    local log=$1 size=${2:-1280x1024x24} display='' displayfile
    if [[ -n ${CLIPMEND_DISPLAY:-} ]]; then
        Xvfb ":$CLIPMEND_DISPLAY" -screen 0 "$size" -nolisten tcp >"$log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [[ -S /tmp/.X11-unix/X$CLIPMEND_DISPLAY ]] && display=$CLIPMEND_DISPLAY && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
    else
        displayfile=$(mktemp)
        Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$displayfile" >"$log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [[ -s $displayfile ]] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        display=$(tr -d '[:space:]' <"$displayfile")
        rm -f "$displayfile"
    fi
    if [[ -z $display ]] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        cat "$log" >&2
        kill "$xvfb_pid" 2>/dev/null
        xvfb_pid=
        return 1
    fi
    export DISPLAY=:$display
}
