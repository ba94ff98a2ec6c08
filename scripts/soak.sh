#!/usr/bin/env bash
# Runs the bounded soak against a build tree: the reference media, then tavrin-soak (16 H.264
# channels, PTZ and output commands, an offline cycle each minute) for TAVRIN_SOAK_SECONDS
# (default 300). Logs go to BUILD_DIR/soak/. Usage: soak.sh BUILD_DIR [tavrin-soak options]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: soak.sh BUILD_DIR [tavrin-soak options]}
shift
bash scripts/make-media.sh "$dir/media" >/dev/null
exec "$dir/tools/tavrin-soak" --media "$dir/media" --log-dir "$dir/soak" "$@"
