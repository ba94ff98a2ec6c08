#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need. Idempotent.
# With the argument "windows" also the 32-bit Windows cross build and Wine (i386 architecture), and
# winbind, whose ntlm_auth helper Wine's NTLM authentication runs.
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

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"

# A mirror caught mid-sync fails one index ("File has unexpected size"); the others, and the
# lists fetched before, still serve the install, which fails by itself when a package is missing.
apt_update() {
  $SUDO apt-get update || echo "apt-get update failed for some index; installing from what it has" >&2
}

if [[ ${1:-} == windows ]]; then
  PACKAGES+=(g++-mingw-w64-i686-posix googletest wine wine32:i386 winbind)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    apt_update
  fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
