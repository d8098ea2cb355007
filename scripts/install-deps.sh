#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Zarn need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config git clang libclang-rt-14-dev
  # core libraries
  # libcli11-dev: the zarn command line is declared with CLI11 (header only)
  libicu-dev nlohmann-json3-dev libcli11-dev libcurl4-openssl-dev libssl-dev libsoxr-dev libsystemd-dev
  # the run history loads with simdjson: a long history reads several times faster than with nlohmann-json
  libsimdjson-dev
  # platform: audio, X11, evdev, accessibility, speech
  libpulse-dev libx11-dev libxi-dev libxtst-dev libxfixes-dev libevdev-dev libatspi2.0-dev libglib2.0-dev
  # the paste keystroke in the user's layout (xkbcommon) and on Wayland (client library, wayland-scanner)
  libxkbcommon-dev libwayland-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx pocketsphinx-en-us pocketsphinx-testdata
  # event sounds: libcanberra, its PulseAudio driver and the freedesktop theme it plays from
  libcanberra-dev libcanberra-pulse sound-theme-freedesktop
  # front end
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # tests: services the end-to-end tests start on their own
  libgtest-dev libgmock-dev xvfb xauth x11-utils xdotool trayer pulseaudio pulseaudio-utils dbus dbus-x11 at-spi2-core
  python3 espeak-ng sox
  # the Debian package: dpkg-buildflags and dpkg-shlibdeps for CPack, file to find what to
  # strip, and the checks of scripts/check-package.sh
  dpkg-dev file lintian desktop-file-utils appstream man-db
  # Wayland: native windows when there is no XWayland (qt6-wayland); the headless sway the
  # Wayland tests start, its XWayland and xhost to let the test in, wl-clipboard to read the
  # clipboard as Wayland clients see it, foot as a native Wayland window that pastes
  qt6-wayland sway xwayland x11-xserver-utils wl-clipboard foot
)

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
