#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks
# need, only when some are missing. Quiet when everything is present.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # a private sound server with a null sink, so the audio output tests open
  # a real stream without a sound card
  pulseaudio pulseaudio-utils
  # audio files, transforms, images
  libsndfile1-dev libkissfft-dev libstb-dev
  # the audio device, and the sound server's client for a check RtAudio lacks
  librtaudio-dev libpulse-dev
  # the update check's HTTP client; the CA certificates it verifies against
  # (only recommended, so named), and openssl for the test's TLS server
  libcurl4-openssl-dev ca-certificates openssl
  # the reference video and its sound: FFmpeg decodes every video
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  # the window: SDL, OpenGL (Mesa's software renderer when there is no GPU),
  # Dear ImGui, and a virtual display with its resource tool for the tests
  libsdl2-dev libimgui-dev libx11-dev libgl-dev libgl1-mesa-dri xvfb xauth x11-xserver-utils
  # a window manager and the X server's test input, for the window tests
  # that maximise and move the window and use the real pointer and keys
  openbox libxtst-dev
  # file dialogs and the desktop's shell services
  libgtk-3-dev
  # the text fonts (npm for the icon font is added below)
  fonts-roboto-unhinted
  # the user guide's PDF is typeset by groff (its PDF output is not in groff-base)
  groff
  # the locale data, for the decimal-comma locale the number tests switch to
  locales
  # peer libraries used only by the benchmarks
  libsamplerate0-dev libsoxr-dev libebur128-dev nlohmann-json3-dev
)

# npm fetches the icon font. A Node.js installed from elsewhere brings its own
# npm and conflicts with Debian's package, so ask for that only when none is
# on the path.
if ! command -v npm >/dev/null 2>&1; then PACKAGES+=(npm); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ "${#missing[@]}" -ne 0 ]; then
  echo "[deps] installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A locale with a decimal comma, so the tests that check numbers are read and
# written alike under it run instead of skipping.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "[deps] generating the de_DE.UTF-8 locale"
  $SUDO localedef -i de_DE -c -f UTF-8 de_DE.UTF-8
fi

# The icon font: Debian's Font Awesome is the 4.7 set, which lacks most
# icons the program draws, and version 7 ships no TTF. The build copies it
# from here (KORVEL_ICON_FONT_DIR).
ICON_PREFIX=/opt/korvel/npm
if [ ! -f "$ICON_PREFIX/node_modules/@fortawesome/fontawesome-free/webfonts/fa-solid-900.ttf" ]; then
  echo "[deps] installing @fortawesome/fontawesome-free@6.7.2"
  $SUDO mkdir -p "$ICON_PREFIX"
  $SUDO npm install --silent --no-audit --no-fund --prefix "$ICON_PREFIX" @fortawesome/fontawesome-free@6.7.2 >/dev/null
fi
