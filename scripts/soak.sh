#!/usr/bin/env bash
# Runs the bounded soak against a build tree: the reference media, then tavrin-soak (16 H.264
# channels, PTZ and output commands, an offline cycle each minute) for TAVRIN_SOAK_SECONDS
# (default 300). Logs go to BUILD_DIR/soak/. Usage: soak.sh BUILD_DIR [tavrin-soak options]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: soak.sh BUILD_DIR [tavrin-soak options]}
shift
bash scripts/make-media.sh "$dir/media" >/dev/null
# glibc counts the blocks parked in its per-thread caches as in use, so with some 120 threads its
# heap figure creeps up by hundreds of KiB over an hour while the live heap stays flat; with the
# caches off the figure is the live heap, and the soak's tight heap slack judges that.
export GLIBC_TUNABLES=${GLIBC_TUNABLES:-glibc.malloc.tcache_count=0}
# A sanitizer report ends the soak (or its simulator) with a failing status.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1}
exec "$dir/tools/tavrin-soak" --media "$dir/media" --log-dir "$dir/soak" "$@"
