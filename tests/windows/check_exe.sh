#!/usr/bin/env bash
# Checks the built AggiornaArchivio.exe: only Windows' own DLLs imported, hardening flags set.
# Usage: check_exe.sh path/to/AggiornaArchivio.exe [build folder]
set -euo pipefail
exe=$1

objdump=
for candidate in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
  if command -v "$candidate" >/dev/null; then objdump=$candidate; break; fi
done
[ -n "$objdump" ] || { echo "no objdump found"; exit 1; }

headers=$("$objdump" -p "$exe")
status=0

case "$("$objdump" -f "$exe")" in
  *pei-x86-64*) bits=64 ;;
  *pei-i386*) bits=32 ;;
  *) echo "not a PE executable: $exe"; exit 1 ;;
esac
echo "$exe: PE $bits-bit, $(stat -c %s "$exe") bytes"

# Windows' own DLLs: the system's C runtime and the API sets are part of every Windows.
while read -r dll; do
  echo "imports $dll"
  shopt -s nocasematch
  case "$dll" in
    kernel32.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|msvcrt.dll|api-ms-win-*.dll) ;;
    *) echo "FAIL: imports $dll, which is not part of Windows"; status=1 ;;
  esac
  shopt -u nocasematch
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

flags=(DYNAMIC_BASE NX_COMPAT)
[ "$bits" = 64 ] && flags+=(HIGH_ENTROPY_VA)
for flag in "${flags[@]}"; do
  if grep -qw "$flag" <<<"$headers"; then
    echo "has $flag"
  else
    echo "FAIL: $flag missing from DllCharacteristics"; status=1
  fi
done

# A GUI program (no console window) with its manifest and version resource.
grep -q 'Subsystem[[:space:]]*00000002' <<<"$headers" || { echo "FAIL: not a Windows GUI program"; status=1; }
grep -q '\.rsrc' <<<"$("$objdump" -h "$exe")" || { echo "FAIL: no resources"; status=1; }
grep -q 'Microsoft.Windows.Common-Controls' "$exe" || { echo "FAIL: no manifest"; status=1; }
if grep -q '<requestedExecutionLevel\|<trustInfo' "$exe"; then echo "FAIL: the manifest asks for an execution level"; status=1; fi
strings -el "$exe" | grep -qx 'Aggiornamento Archivio' || { echo "FAIL: no FileDescription"; status=1; }
strings -el "$exe" | grep -qx 'Aggiorna Archivio' || { echo "FAIL: no ProductName"; status=1; }

exit $status
