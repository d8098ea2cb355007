#!/bin/sh
# Renders the application's windows under a private Xvfb into docs/ (PNG).
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$root/docs
mkdir -p "$out"

start_xvfb() {
    display=:$(( ($$ % 400) + 100 ))
    Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        DISPLAY=$display xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start on $display" >&2
    exit 1
}

# The main window: both sections empty, with rows and with a search; the entry editor with a warning.
mainwindow_shots() {
    cmake --build "$build" --target zarn_mainwindow_shots
    DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$(mktemp -d) \
        "$build/src/ui/zarn_mainwindow_shots" "$out"
}

start_xvfb
mainwindow_shots
