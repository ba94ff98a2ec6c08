#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need. Idempotent.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang pkg-config git
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libclang-rt-14-dev llvm
  ffmpeg libjpeg-turbo-progs openssl curl iproute2 util-linux
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gir1.2-gst-rtsp-server-1.0 python3-gi
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
