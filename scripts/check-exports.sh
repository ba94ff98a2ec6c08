#!/usr/bin/env bash
# Fails unless the library exports exactly the driver's 14 functions.
set -euo pipefail
expected="CreateCapabilityQueryModule
CreateIPCapture
CreateIPCaptureEx
CreateIPCaptureEx2
CreateIPCaptureEx3
DeleteCapabilityQueryModule
DeleteIPCapture
DeleteIPCaptureEx
DeleteIPCaptureEx2
DeleteIPCaptureEx3
InitCapabilityQuery
StartCapabilityQuery
TerminateCapabilityQuery
UninitCapabilityQuery"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "unexpected export list of $1:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "exports: exactly the 14 driver functions"
