#!/usr/bin/env bash
# Prints the fault matrix that the fault cases (tests_faults) left in a build tree.
# Usage: scripts/fault-table.sh [build dir]   (default: build)
set -euo pipefail
dir=${1:-build}/fault-matrix
shopt -s nullglob
rows=("$dir"/*.row)
if ((${#rows[@]} == 0)); then
  echo "no fault matrix in $dir"
  exit 0
fi
echo "| fault | recovered | time to recover | frames lost | memory growth (bytes) |"
echo "|---|---|---|---|---|"
cat "${rows[@]}"
cat <<'NOTE'
time to recover: from the end of the fault (the camera back, the fault knob cleared, the stall
  over), or from the moment the camera ended the session or froze (the channel has to notice
  those itself), to the first frame the host receives after it.
frames lost: frames the simulator sent on its RTSP sessions from the warmed-up stream (or from
  the channel's start) to the end of the case, minus the frames the host received in that time;
  a camera that is offline or frozen sends nothing, so a planned outage is not counted.
memory growth: heap bytes held after recovery minus heap bytes held before the fault (the
  sanitizer allocator's count under ASan/TSan, malloc in-use bytes otherwise).
NOTE
