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
  # platform: audio, X11, evdev, accessibility, speech
  libpulse-dev libx11-dev libxi-dev libxtst-dev libxfixes-dev libevdev-dev libatspi2.0-dev libglib2.0-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx pocketsphinx-en-us pocketsphinx-testdata
  # event sounds: libcanberra, its PulseAudio driver and the freedesktop theme it plays from
  libcanberra-dev libcanberra-pulse sound-theme-freedesktop
  # front end
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # tests: services the end-to-end tests start on their own
  libgtest-dev libgmock-dev xvfb xauth x11-utils xdotool trayer pulseaudio pulseaudio-utils dbus dbus-x11 at-spi2-core
  python3 espeak-ng sox
)

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
