#!/usr/bin/env bash
# Installs the Debian packages the build, the tools and the tests need.
# Safe to run repeatedly: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  juce-modules-source libkissfft-dev lv2-dev
  libflac-dev libvorbis-dev libogg-dev libcurl4-gnutls-dev libpng-dev libjpeg-dev zlib1g-dev
  libasound2-dev libfreetype-dev libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth fonts-noto-mono
  jalv jackd2 lilv-utils sordi jack-tools xdotool python3
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
