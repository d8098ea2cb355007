#!/usr/bin/env bash
# Renders the HUD in each state, the settings window in both languages, light and dark, and
# the main window (both sections empty, with rows, with a search; the entry editor with a
# warning) to docs/*.png on a private X display (Xvfb), as a desktop user would see them.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ZARN_BUILD_DIR:-build}
if [ ! -d "$build" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$(nproc)" --target zarn_screenshots zarn_mainwindow_shots
out=${1:-docs}
mkdir -p "$out"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# A private home: nothing of the user's settings or theme leaks into the pictures.
HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
  QT_QPA_PLATFORM=xcb ZARN_LOG_STDERR=1 \
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/ui/zarn_screenshots" "$out"
HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
  QT_QPA_PLATFORM=xcb ZARN_LOG_STDERR=1 \
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/src/ui/zarn_mainwindow_shots" "$out"
