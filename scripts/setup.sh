#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the runtime need.
# Packages that are already installed are skipped; nothing is downloaded when all are present.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-positioning-dev libpulse-dev zlib1g-dev libx11-dev libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
  # the Debian package (dpkg-shlibdeps)
  dpkg-dev
  # end-to-end and speed tests
  xvfb xauth xdotool x11-apps x11-utils imagemagick
  dbus-daemon dbus-bin
  pulseaudio pulseaudio-utils
  lua5.4 luajit time
  pigz   # an independent zlib user for the compression tests
  # fuzzing (libFuzzer)
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
