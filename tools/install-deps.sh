#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(
  # building: compiler, CMake, the libraries, GoogleTest and Google Benchmark
  cmake ninja-build g++ pkg-config
  libgl1-mesa-dev libglu1-mesa-dev libegl-dev freeglut3-dev libgl1-mesa-dri libx11-dev
  libjpeg62-turbo-dev libtiff-dev libpng-dev libdeflate-dev zlib1g-dev
  libgtest-dev libbenchmark-dev
  libgif-dev libstb-dev  # the peers of bench/picture_bench
  # programs the tests and run.sh start: Xvfb, xdotool, xwd (window captures)
  xvfb xauth xdotool x11-apps
  # outside peers: convert-im6.q16, netpbm's converters, Pillow for /usr/bin/python3
  imagemagick netpbm python3-pil
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
