#!/usr/bin/env bash
# Starts Pictolarium. Without a display it first starts a virtual one with a window manager and
# a panel, and says how to reach it.
set -euo pipefail
app="$1"

if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 50 99); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then break; fi
    done
    Xvfb ":$n" -noreset -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    openbox >/dev/null 2>&1 &
    wm=$!
    tint2 >/dev/null 2>&1 &
    panel=$!
    trap 'kill $panel $wm $xvfb 2>/dev/null || true' EXIT
    echo "No display was set: started a virtual one at DISPLAY=:$n (1920x1080)."
    echo "Reach it with, for example:  DISPLAY=:$n import -window root shot.png"
    echo "                          or DISPLAY=:$n xdotool key super+shift+d"
    # Let the panel take the tray first, so the icon docks at once.
    for _ in $(seq 30); do
        xdotool search --classname tint2 >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 0.3
fi

status=0
"$app" "${@:2}" || status=$?
# Stopped by the user (Ctrl+C, kill): the end of a run, not a failure for make to report.
case "$status" in 130 | 143) status=0 ;; esac
exit "$status"
