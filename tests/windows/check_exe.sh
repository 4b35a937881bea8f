#!/usr/bin/env bash
# Checks the built AggiornaArchivio.exe: only Windows' own DLLs imported, hardening flags and
# terminal-server awareness set, Windows Vista (6.0) as the oldest system in the header and no
# import newer than that, and the manifest and the complete version resource.
# The version resource is the project's version (CMakeLists.txt's project(VERSION), as the build
# folder's cache has it).
# Usage: check_exe.sh path/to/AggiornaArchivio.exe [build folder]
set -euo pipefail
exe=$1
build=${2:-}
version=
if [ -n "$build" ] && [ -f "$build/CMakeCache.txt" ]; then
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
fi
if [ -z "$version" ]; then
  version=$(sed -n 's/^project(AggiornaArchivio VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
fi
[ -n "$version" ] || { echo "FAIL: the project's version cannot be found"; exit 1; }

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
    kernel32.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|msvcrt.dll|bcrypt.dll|api-ms-win-*.dll) ;;
    *) echo "FAIL: imports $dll, which is not part of Windows"; status=1 ;;
  esac
  shopt -u nocasematch
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

flags=(DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
[ "$bits" = 64 ] && flags+=(HIGH_ENTROPY_VA)
for flag in "${flags[@]}"; do
  if grep -qw "$flag" <<<"$headers"; then
    echo "has $flag"
  else
    echo "FAIL: $flag missing from DllCharacteristics"; status=1
  fi
done

# Windows Vista (6.0): the oldest system the program runs on, as operating-system and subsystem
# version; lower, Windows would apply compatibility behaviour meant for older programs.
for field in OSystemVersion SubsystemVersion; do
  major=$(sed -n "s/^Major$field[[:space:]]*//p" <<<"$headers")
  minor=$(sed -n "s/^Minor$field[[:space:]]*//p" <<<"$headers")
  if [ "$major.$minor" = 6.0 ]; then
    echo "$field $major.$minor"
  else
    echo "FAIL: $field is $major.$minor, not 6.0"; status=1
  fi
done
# Calls newer than Vista must be looked up at run time, never imported: an import Windows lacks
# stops the program before it starts.
for function in SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory; do
  if grep -qw "$function" <<<"$headers"; then
    echo "FAIL: imports $function (Windows 8, or KB2533623): look it up at run time"; status=1
  fi
done

# A GUI program (no console window) with its manifest and version resource.
grep -q 'Subsystem[[:space:]]*00000002' <<<"$headers" || { echo "FAIL: not a Windows GUI program"; status=1; }
grep -q '\.rsrc' <<<"$("$objdump" -h "$exe")" || { echo "FAIL: no resources"; status=1; }
grep -q 'Microsoft.Windows.Common-Controls' "$exe" || { echo "FAIL: no manifest"; status=1; }
if grep -q '<requestedExecutionLevel\|<trustInfo' "$exe"; then echo "FAIL: the manifest asks for an execution level"; status=1; fi
# Each string of the version resource: its key in UTF-16, the padding to 32 bits, its value.
python3 - "$exe" "$version" <<'PY' || status=1
import re, struct, sys
data = open(sys.argv[1], "rb").read()
version = sys.argv[2]
expected = {
    "CompanyName": "Quibex", "FileDescription": "Aggiornamento Archivio",
    "FileVersion": version, "InternalName": "AggiornaArchivio",
    "LegalCopyright": "\u00a9 2026 Quibex", "OriginalFilename": "AggiornaArchivio.exe",
    "ProductName": "Aggiorna Archivio", "ProductVersion": version,
}
failed = False
# The numbers (VS_FIXEDFILEINFO, after its signature 0xFEEF04BD): file and product version.
numbers = [int(part) for part in version.split(".")] + [0] * 4
major, minor, patch, build = numbers[:4]
fixed = data.find(struct.pack("<I", 0xFEEF04BD))
if fixed < 0:
    print("FAIL: no fixed version information")
    failed = True
else:
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, fixed + 8)
    want = ((major << 16) | minor, (patch << 16) | build)
    for what, got in (("file", (file_ms, file_ls)), ("product", (product_ms, product_ls))):
        shown = f"{got[0] >> 16}.{got[0] & 0xFFFF}.{got[1] >> 16}.{got[1] & 0xFFFF}"
        if got == want:
            print(f"version resource {what} version numbers: {shown}")
        else:
            print(f"FAIL: version resource {what} version numbers are {shown}, not {version}")
            failed = True
for key, value in expected.items():
    found = re.search(re.escape((key + "\0").encode("utf-16-le")) + b"(?:\0\0)?" +
                      b"((?:[^\0].|\0[^\0])*?)\0\0", data, re.S)
    got = found.group(1).decode("utf-16-le", "replace") if found else None
    if got == value:
        print(f"version resource {key}: {got}")
    else:
        print(f"FAIL: version resource {key} is {got!r}, not {value!r}")
        failed = True
sys.exit(1 if failed else 0)
PY

exit $status
