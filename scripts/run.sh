#!/usr/bin/env bash
# Installs dependencies, builds in Release and runs tavrin-host (arguments are passed on).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target tavrin-host
exec build-release/tools/tavrin-host "$@"
