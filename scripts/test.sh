#!/usr/bin/env bash
# Installs dependencies, then builds and runs every test in each configuration given
# (default: release asan tsan fuzz windows; "windows" cross-builds the 32-bit DLL and runs its
# tests under Wine). Build trees go to build-<configuration>/.
set -euo pipefail
cd "$(dirname "$0")/.."

CONFIGS=("$@")
((${#CONFIGS[@]})) || CONFIGS=(release asan tsan fuzz windows)
if [[ " ${CONFIGS[*]} " == *" windows "* ]]; then
  bash scripts/install-deps.sh windows
else
  bash scripts/install-deps.sh
fi
JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-10}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

# Stage headings carry the seconds since the start, so a slow stage shows in CI's output.
stage() { printf '=== [%ds] %s\n' "$SECONDS" "$*"; }

configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTAVRIN_WERROR=ON "$@" >/dev/null
}

# Runs a command in a network namespace of its own with loopback up, when the machine allows one,
# so that the soak's sockets never meet the tests' port ranges (one case takes every RTP port).
isolated() {
  if unshare -n true 2>/dev/null; then
    unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$@"
  elif unshare -rn true 2>/dev/null; then
    unshare -rn bash -c 'ip link set lo up && exec "$@"' isolated "$@"
  else
    echo "no network namespace here: the soak shares the machine's ports" >&2
    "$@"
  fi
}

# ThreadSanitizer maps its shadow memory at fixed addresses; with address-space randomisation a
# process now and then fails to start ("ThreadSanitizer failed to allocate"). Its tests run with
# randomisation off where the machine allows that.
fixed_layout() {
  if [[ $1 == tsan ]] && setarch "$(uname -m)" -R true 2>/dev/null; then
    echo setarch "$(uname -m)" -R
  fi
}

run_suite() {
  local name=$1; shift
  local dir="build-$name"
  local -a runner
  read -r -a runner <<<"$(fixed_layout "$name")"
  stage "$name: build"
  configure "$dir" "$@"
  cmake --build "$dir" -j "$JOBS"
  stage "$name: exports"
  bash scripts/check-exports.sh "$dir/Tavrin.so"
  stage "$name: soak in the background ($dir/soak.log)"
  isolated "${runner[@]}" bash scripts/soak.sh "$dir" >"$dir/soak.log" 2>&1 &
  local soak=$!
  stage "$name: tests"
  rm -rf "$dir/fault-matrix"
  local status=0
  # Most cases wait on the network or on time-outs rather than compute: one more case than
  # there are cores keeps both busy.
  "${runner[@]}" ctest --test-dir "$dir" -j "$((JOBS + 1))" --output-on-failure --timeout 300 ||
    status=$?
  stage "$name: fault matrix"
  bash scripts/fault-table.sh "$dir"
  if ((status)); then
    kill "$soak" 2>/dev/null || true
    wait "$soak" || true
    return "$status"
  fi
  stage "$name: soak"
  wait "$soak" || { cat "$dir/soak.log"; echo "=== $name: soak failed" >&2; return 1; }
  grep -E '^(soak|period|summary)' "$dir/soak.log"
  if [[ $name == release ]]; then
    stage "$name: install, packages and a host of one's own"
    bash scripts/check-install.sh "$dir"
  fi
}

run_fuzz() {
  local dir=build-fuzz
  stage "fuzz: build (clang, libFuzzer)"
  CC=clang CXX=clang++ configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_FUZZ=ON -DTAVRIN_TESTS=OFF
  cmake --build "$dir" -j "$JOBS"
  shopt -s nullglob
  for target in "$dir"/fuzz/fuzz_*; do
    [[ -x $target ]] || continue
    local name corpus
    name=$(basename "$target")
    corpus="$dir/corpus/$name"
    mkdir -p "$corpus"
    [[ -d fuzz/corpus/${name#fuzz_} ]] && cp -n fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
    stage "fuzz: $name for ${FUZZ_SECONDS}s"
    "$target" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=1024 -artifact_prefix="$dir/" -print_final_stats=1 "$corpus"
  done
}

for config in "${CONFIGS[@]}"; do
  case $config in
    release) run_suite release -DCMAKE_BUILD_TYPE=Release ;;
    asan) run_suite asan -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=address ;;
    tsan) run_suite tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_SANITIZE=thread ;;
    fuzz) run_fuzz ;;
    windows) stage "windows"; bash scripts/windows-check.sh build-windows ;;
    *) echo "unknown configuration: $config" >&2; exit 2 ;;
  esac
done
stage "all tests passed: ${CONFIGS[*]}"
