#!/usr/bin/env bash
# Installs dependencies, builds in Release and runs tavrin-host (arguments are passed on). With no
# --address, tavrin-host runs against the bundled camera simulator on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target tavrin-host tavrin-camsim
bash scripts/make-media.sh build-release/media
exec build-release/tools/tavrin-host --media build-release/media "$@"
