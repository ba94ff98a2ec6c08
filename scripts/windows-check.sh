#!/usr/bin/env bash
# The Windows configuration: cross-builds Tavrin.dll (32-bit), tavrin-host.exe, the unit suites of
# the platform, foundation, HTTP and RTSP layers, the layout check and the Microsoft-ABI host with
# MinGW-w64 (and clang for the Microsoft ABI); checks the DLL's exports; runs the suites under
# Wine; then, under Wine against the Linux-native simulator on loopback, tavrin-host.exe streams
# (the captured H.264 must decode to the reference pictures), probes, steers PTZ and drives alarm
# I/O, and the Microsoft-ABI host runs its scenario. CPack makes the 32-bit .zip (DLL, SDK
# headers, tavrin-host.exe, host guide), whose contents are checked. Build tree: $1 (build-windows).
#
# Wine's 32-bit loader needs the kernel's IA-32 support, which some virtual machines lack. There
# the 32-bit tree is built (DLL, host, layout check, Microsoft-ABI host) and its exports checked,
# and the layout check and the Microsoft-ABI host run from a 64-bit build (<tree>-x64) instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh windows

dir=${1:-build-windows}
out=$dir/e2e
JOBS=$(nproc)

# Wine headless, in a prefix of its own; no display, no Mono or Gecko installers.
export WINEPREFIX=$(realpath -m "$dir")/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

run32=yes
/usr/lib/wine/wine --version >/dev/null 2>&1 || run32=no

# configure_windows DIR ARCH [cmake option ...]
configure_windows() {
  local tree=$1 arch=$2
  shift 2
  cmake -S . -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTAVRIN_WERROR=ON "$@" >/dev/null
}

echo "=== windows: build (the layout check runs as part of it)"
if [[ $run32 == yes ]]; then
  [[ -f $WINEPREFIX/system.reg ]] || timeout 300 wineboot -i
  configure_windows "$dir" i686 -DTAVRIN_RUN_LAYOUT_CHECK=ON
  cmake --build "$dir" -j "$JOBS" --target Tavrin tavrin-host tavrin-layout-check tavrin-msabi-host \
    tests_platform tests_foundation tests_http tests_rtsp
else
  echo "this machine cannot run 32-bit programs (no IA-32 support in its kernel): the 32-bit tree is"
  echo "built and its exports checked; the layout check and the Microsoft-ABI host run 64-bit"
  configure_windows "$dir" i686 -DTAVRIN_RUN_LAYOUT_CHECK=OFF
  cmake --build "$dir" -j "$JOBS" --target Tavrin tavrin-host tavrin-layout-check tavrin-msabi-host
  configure_windows "$dir-x64" x86_64 -DTAVRIN_RUN_LAYOUT_CHECK=ON
  cmake --build "$dir-x64" -j "$JOBS" --target Tavrin tavrin-layout-check tavrin-msabi-host
fi
# The simulator runs natively: TAVRIN_CAMSIM, else the release build's, else one built here.
camsim=${TAVRIN_CAMSIM:-build-release/tools/tavrin-camsim}
if [[ ! -x $camsim ]]; then
  cmake -S . -B "$dir/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIN_WERROR=ON >/dev/null
  cmake --build "$dir/native" -j "$JOBS" --target tavrin-camsim
  camsim=$dir/native/tools/tavrin-camsim
fi

echo "=== windows: exports"
bash scripts/check-exports.sh "$dir/Tavrin.dll"

bash scripts/make-media.sh "$dir/media" >/dev/null

echo "=== windows: the .zip package"
(cd "$dir" && cpack -G ZIP -B package >/dev/null)
zip=$(ls "$dir"/package/*.zip)
unzip -l "$zip" | tee "$dir/package/contents.txt"
packaged=(bin/Tavrin.dll bin/tavrin-host.exe share/tavrin/media/h264_1080p25.264 $(cd include && find norvane -name '*.h' | sed 's|^|include/|'))
packaged+=(host-guide.md LICENSE THIRD-PARTY-NOTICES.md)  # in the documentation folder
for file in "${packaged[@]}"; do
  grep -q "/$file\$" "$dir/package/contents.txt" || { echo "$(basename "$zip") lacks $file" >&2; exit 1; }
done
# The packaged DLL carries the build's one version in its version resource.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
unzip -p "$zip" '*/bin/Tavrin.dll' | strings -e l | grep -x "$version" >/dev/null ||
  { echo "the packaged Tavrin.dll has no version resource of $version" >&2; exit 1; }

# Helpers of the runs against the simulator.
rm -rf "$out"
mkdir -p "$out"
camsim_pid=
# Stops the simulator; one that refused a request (it ends with status 3) fails the run.
stop_camsim() {
  local status=0
  if [[ -n $camsim_pid ]]; then
    kill "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || status=$?
  fi
  camsim_pid=
  if ((status == 3)); then
    echo "the simulator refused requests (lines \"camsim: rejected request\" in $out)" >&2
    exit 1
  fi
}
trap stop_camsim EXIT
# Starts the simulator with the given options, its log in $out/$1.log; sets $port.
start_camsim() {
  local log=$out/$1.log
  shift
  stop_camsim
  "$camsim" --media "$dir/media" --seconds 240 "$@" >"$log" 2>&1 &
  camsim_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's|^camera .* on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$log")
    [[ -n $port ]] && return 0
    sleep 0.1
  done
  echo "the simulator did not start" >&2
  cat "$log" >&2
  exit 1
}
# The Microsoft-ABI host's scenario: a probe; an H.264 driver with its alarm I/O and PTZ, deleted
# through DeleteIPCapture; a Motion-JPEG driver, deleted through its destructor position. Both
# streams must decode to the reference pictures. $1: the Wine loader, $2: the build tree.
msabi_check() {
  local wine=$1 tree=$2
  start_camsim camsim-msabi --model VCC-HD2300 --h264-media h264_1080p25.264 --jpeg-media jpeg720p \
    --alarm 6000:input0=1
  mkdir -p "$out/msabi"
  timeout 300 "$wine" "$tree/tests/abi/tavrin-msabi-host.exe" --library "$tree/Tavrin.dll" \
    --address 127.0.0.1 --port "$port" --out "$out/msabi" >"$out/msabi.log" 2>&1 ||
    { cat "$out/msabi.log" >&2; exit 1; }
  cat "$out/msabi.log"
  python3 scripts/framemd5-loop.py "$out/msabi/channel-h264.h264" "$dir/media/h264_1080p25.264"
  python3 scripts/framemd5-loop.py "$out/msabi/channel-mjpeg.mjpeg" "$dir/media/jpeg720p"
  grep -q "ope=11&execution=1" "$out/camsim-msabi.log" ||
    { echo "msabi: the camera received no preset recall" >&2; exit 1; }
  grep -q "alarm_out_polarity=1&status=1" "$out/camsim-msabi.log" ||
    { echo "msabi: the camera's output was not set" >&2; exit 1; }
  stop_camsim
  echo "msabi: ok"
}

if [[ $run32 == no ]]; then
  echo "=== windows: the Microsoft-ABI host under 64-bit Wine against the native simulator"
  msabi_check /usr/lib/wine/wine64 "$dir-x64"
  timeout 60 wineserver -w || true
  echo "=== windows: passed (64-bit runs; this machine runs no 32-bit programs)"
  exit 0
fi

echo "=== windows: unit suites under Wine"
# A failing suite fails the run at the end; the host checks still run and report.
suites=passed
ctest --test-dir "$dir" --output-on-failure || suites=failed

echo "=== windows: tavrin-host.exe under Wine against the native simulator"
host() { timeout 120 wine "$dir/tools/tavrin-host.exe" "$@" --library "$dir/Tavrin.dll" \
  --address 127.0.0.1 --port "$port"; }

# The simulator serves the full-size reference stream whatever size the driver configures.
start_camsim camsim --model VCC-HD2300 --h264-media h264_1080p25.264
host --seconds 8 --channels 1 --out "$out/stream" >"$out/stream.log" 2>&1 ||
  { cat "$out/stream.log" >&2; exit 1; }
python3 scripts/framemd5-loop.py "$out/stream/channel-0.h264" "$dir/media/h264_1080p25.264"

host probe >"$out/probe.log" 2>&1 || { cat "$out/probe.log" >&2; exit 1; }
grep -q "VCC" "$out/probe.log" || { echo "probe: no model in its table" >&2; exit 1; }
echo "probe: ok"

# Presets are kept beside tavrin-host.exe in a file named after the --mac given.
rm -f "$dir/tools/Sanyo_E2EWINE.preset"
host ptz --mac E2EWINE --preset-add A >"$out/ptz-add.log" 2>&1 || { cat "$out/ptz-add.log" >&2; exit 1; }
host ptz --mac E2EWINE --preset-goto A >"$out/ptz-goto.log" 2>&1 || { cat "$out/ptz-goto.log" >&2; exit 1; }
grep -q "ope=11&execution=1" "$out/camsim.log" ||
  { echo "ptz: the camera received no preset recall" >&2; exit 1; }
[[ -f $dir/tools/Sanyo_E2EWINE.preset ]] || { echo "ptz: no preset file beside the host" >&2; exit 1; }
echo "ptz: ok"

# A fresh simulator whose input 0 goes active 3 s after its start.
start_camsim camsim-io --model VCC-HD2300 --alarm 3000:input0=1
host --io --inputs 1 --outputs 1 --set-output 0=1 --seconds 8 --channels 1 --out "$out/io" >"$out/io.log" 2>&1 ||
  { cat "$out/io.log" >&2; exit 1; }
grep -q "input 0 " "$out/io.log" || { echo "io: no input change arrived" >&2; exit 1; }
grep -q "output 0 active" "$out/io.log" || { echo "io: output 0 was not set" >&2; exit 1; }
echo "io: ok"

stop_camsim

echo "=== windows: the Microsoft-ABI host under Wine against the native simulator"
msabi_check wine "$dir"

timeout 60 wineserver -w || true
if [[ $suites != passed ]]; then
  echo "=== windows: host checks passed, unit suites failed" >&2
  exit 1
fi
echo "=== windows: passed"
