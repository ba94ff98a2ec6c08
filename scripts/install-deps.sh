#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need. Idempotent.
# With the argument "windows" also the 32- and 64-bit Windows cross builds, Wine, and winbind, whose
# ntlm_auth helper Wine's NTLM authentication runs; 32-bit Wine (i386 architecture) where it
# installs (scripts/windows-check.sh runs 64-bit where 32-bit programs cannot run).
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang pkg-config git dpkg-dev
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libclang-rt-14-dev llvm
  ffmpeg libjpeg-turbo-progs openssl curl iproute2 util-linux
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gir1.2-gst-rtsp-server-1.0 python3-gi
  vlc-bin vlc-plugin-base librtsp-server-perl tshark
  chromium  # headless, renders tavrin-host's report.html in its test
)

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"

# A mirror caught mid-sync fails one index ("File has unexpected size"); the others, and the
# lists fetched before, still serve the install, which fails by itself when a package is missing.
apt_update() {
  $SUDO apt-get update || echo "apt-get update failed for some index; installing from what it has" >&2
}

if [[ ${1:-} == windows ]]; then
  PACKAGES+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest wine wine64 winbind unzip)
fi

# The packages of the list given that are not installed yet.
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

export DEBIAN_FRONTEND=noninteractive
mapfile -t missing < <(missing_of "${PACKAGES[@]}")
if ((${#missing[@]})); then
  apt_update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# 32-bit Wine. A mirror whose i386 lists lag behind its amd64 lists (seen mid-sync) leaves apt no
# i386 libraries of the installed amd64 versions; that is reported, not fatal.
if [[ ${1:-} == windows && -n $(missing_of wine32:i386) ]]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    apt_update
  fi
  $SUDO apt-get install -y --no-install-recommends wine32:i386 ||
    echo "32-bit Wine did not install here; the Windows checks run 64-bit" >&2
fi
