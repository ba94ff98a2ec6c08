#!/usr/bin/env bash
# What a host's engineer gets: installs a built tree into a temporary prefix, checks the files,
# the CMake package and tavrin.pc; builds examples/minimal-host against that prefix alone and runs
# it against the installed simulator on loopback (frames must arrive); makes the Debian package
# with CPack, checks its contents and, as root, installs and removes it once.
# Usage: check-install.sh BUILD_DIR (a configured and built Release tree; default build-release).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build-release}")
work=$(mktemp -d)
prefix=$work/prefix
camsim_pid=
cleanup() {
  [[ -n $camsim_pid ]] && kill "$camsim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

echo "--- install into $prefix"
bash scripts/make-media.sh "$build/media" >/dev/null  # installed for tavrin-host's simulator
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(sed -n 's|^CMAKE_INSTALL_LIBDIR:PATH=||p' "$build/CMakeCache.txt")
for file in "$libdir/tavrin/Tavrin.so" bin/tavrin-host bin/tavrin-camsim \
  "$libdir/cmake/Tavrin/TavrinConfig.cmake" "$libdir/cmake/Tavrin/TavrinConfigVersion.cmake" \
  "$libdir/pkgconfig/tavrin.pc" share/tavrin/media/h264_1080p25.264 share/tavrin/media/jpeg420/001.jpg; do
  [[ -f $prefix/$file ]] || fail "not installed: $file"
done
headers=$(cd include && find norvane -name '*.h' | sort)
for header in $headers; do
  [[ -f $prefix/include/$header ]] || fail "SDK header not installed: $header"
done
for doc in host-guide.md LICENSE THIRD-PARTY-NOTICES.md; do
  [[ -f $prefix/share/doc/tavrin/$doc ]] || fail "not installed: share/doc/tavrin/$doc"
done

echo "--- pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[[ $(realpath "$(pkg-config --variable=plugin tavrin)") == "$prefix/$libdir/tavrin/Tavrin.so" ]] ||
  fail "tavrin.pc names another plug-in: $(pkg-config --variable=plugin tavrin)"
cflags=$(pkg-config --cflags tavrin | xargs)
[[ $(realpath -m "${cflags#-I}") == "$prefix/include" ]] || fail "tavrin.pc gives other flags: $cflags"

echo "--- the example against the prefix alone"
# A copy outside the source tree, configured with the prefix as the only place to look.
cp -r examples/minimal-host "$work/example-src"
cmake -S "$work/example-src" -B "$work/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null || fail "find_package(Tavrin) failed"
cmake --build "$work/example" >/dev/null || fail "the example did not build"
if grep -qF -e "$PWD" -e "$build" "$work/example/compile_commands.json"; then
  fail "the example's build reaches into the source or build tree"
fi

echo "--- the example against the installed simulator"
camsim_log=$work/camsim.log
"$prefix/bin/tavrin-camsim" --media "$build/media" --seconds 60 >"$camsim_log" 2>&1 &
camsim_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|^camera .* on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$camsim_log")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || { cat "$camsim_log" >&2; fail "the installed simulator did not start"; }
timeout 90 "$work/example/minimal-host" --address 127.0.0.1 --port "$port" --seconds 3 \
  | tee "$work/example.log" || fail "the example failed"
frames=$(sed -n 's/^frames \([0-9]*\),.*/\1/p' "$work/example.log")
((${frames:-0} > 0)) || fail "no frames arrived"
kill "$camsim_pid"
status=0
wait "$camsim_pid" || status=$?
camsim_pid=
((status != 3)) || { cat "$camsim_log" >&2; fail "the simulator refused requests"; }

echo "--- the installed tavrin-host finds the installed plug-in and media"
(cd "$work" && timeout 90 "$prefix/bin/tavrin-host" --seconds 2 --out "$work/host-run" >"$work/host.log" 2>&1) ||
  { cat "$work/host.log" >&2; fail "the installed tavrin-host failed"; }
grep -qF "driver file: $prefix/$libdir/tavrin/Tavrin.so," "$work/host.log" ||
  fail "the installed tavrin-host loaded another plug-in: $(grep 'driver file' "$work/host.log")"

echo "--- Debian package"
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack failed"
deb=$(ls "$work"/package/*.deb)
dpkg-deb -c "$deb" >"$work/contents"
for file in usr/lib/tavrin/Tavrin.so usr/bin/tavrin-host usr/bin/tavrin-camsim \
  usr/lib/cmake/Tavrin/TavrinConfig.cmake usr/lib/pkgconfig/tavrin.pc usr/share/doc/tavrin/LICENSE \
  usr/share/tavrin/media/h264_1080p25.264 $(sed 's|^|usr/include/|' <<<"$headers"); do
  grep -q " \./$file\$" "$work/contents" || fail "$(basename "$deb") lacks /$file"
done
echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
# Stripped for the package, the plug-in keeps its version note.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/tavrin/Tavrin.so >"$work/Tavrin.so"
readelf -n "$work/Tavrin.so" | grep -q '^ *Tavrin ' || fail "the packaged Tavrin.so has no version note"
if ((EUID != 0)); then
  echo "not root: the package is not installed and removed (dpkg -i needs root)"
else
  dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
  installed=$(PKG_CONFIG_PATH= pkg-config --variable=plugin tavrin)
  [[ -f $installed ]] || fail "the installed package's plug-in is missing: $installed"
  dpkg -r tavrin >/dev/null || fail "dpkg -r failed"
  [[ ! -e $installed ]] || fail "dpkg -r left $installed"
  echo "installed and removed $(basename "$deb")"
fi
echo "check-install: ok"
