#!/usr/bin/env bash
# Fails unless the library exports exactly the driver's 14 functions (Tavrin.so, or Tavrin.dll:
# names undecorated, and imports from system DLLs only).
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
if [[ "$1" == *.dll ]]; then
  table=$(i686-w64-mingw32-objdump -p "$1")
  actual=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' \
    <<<"$table" | sort)
  system_dlls='^(ADVAPI32|KERNEL32|msvcrt|ole32|OLEAUT32|VERSION|WINHTTP|WS2_32)\.dll$'
  others=$(awk '/DLL Name:/ {print $3}' <<<"$table" | grep -viE "$system_dlls" || true)
  if [[ -n "$others" ]]; then
    echo "$1 needs non-system DLLs:" $others >&2
    exit 1
  fi
else
  actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
fi
if [[ "$actual" != "$expected" ]]; then
  echo "unexpected export list of $1:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "exports: exactly the 14 driver functions"
