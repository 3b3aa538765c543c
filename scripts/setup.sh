#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev libcups2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  clang-format  # make test checks the layout of the code
  fonts-liberation fonts-dejavu-core
  fonts-noto-cjk fonts-noto-color-emoji  # names in Chinese, Japanese, Korean and emoji print and show
  imagemagick
  poppler-utils desktop-file-utils shared-mime-info
  abook python3-vobject khard  # other contact programs read the exported cards in the tests
  radicale qtkeychain-qt6-dev openssl
  libicu-dev  # the index sorts names as the desktop's language does
  qt6-wayland  # the program on a Wayland desktop
  weston  # a headless Wayland compositor for the test that starts the program there
  vdirsyncer  # the sync benchmark compares its upload with another CardDAV client's
  libphonenumber-dev  # numbers in international form dialled as the caller's country needs them
  xdg-utils  # tel: links to the desktop's telephone application (xdg-mime, xdg-open)
  ccache  # the three trees of make test, and rebuilds, compile each unchanged file once
  dbus gnome-keyring  # the "remember password" test runs a secret service on a bus of its own
  xvfb openbox  # scripts/launch-time.sh times the program's launch on an X display with a window manager
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
