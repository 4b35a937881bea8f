#!/usr/bin/env bash
# Copies on a network drive: a folder mapped as drive N: of the Wine prefix and declared a network
# drive to Wine's mount manager (HKLM\Software\Wine\Drives), so that Windows calls report it as
# DRIVE_REMOTE. There the copy does without the delete-on-close mark (NetworkDrive.*).
# The mount manager reads the setting when the prefix's server starts: the server is restarted,
# quiet, before and after. Exits 77 (skipped) without a prefix or with N: in use.
# Usage: network_drive.sh path/to/AggiornaArchivio.exe BUILD_DIR   (WINEPREFIX names the prefix)
set -uo pipefail
build=$2
tests=$build/tests/backend_tests.exe
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] ||
  { echo "network_drive: skipped, no Wine prefix in WINEPREFIX"; exit 77; }
[ -f "$tests" ] || { echo "FAIL: $tests not built"; exit 1; }
[ -e "$WINEPREFIX/dosdevices/n:" ] && { echo "network_drive: skipped, drive N: already in use"; exit 77; }
work=$(mktemp -d)
mkdir "$work/n"
# A server started by a command of this script would keep its output open: start it quiet.
restart_server() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1
}
cleanup() {
  wine reg delete 'HKLM\Software\Wine\Drives' /v n: /f >/dev/null 2>&1
  rm -f "$WINEPREFIX/dosdevices/n:"
  restart_server
  rm -rf "$work"
}
trap cleanup EXIT
ln -s "$work/n" "$WINEPREFIX/dosdevices/n:"
wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >"$work/reg.out" 2>&1 ||
  { cat "$work/reg.out"; echo "FAIL: cannot declare N: a network drive"; exit 1; }
restart_server

AGGIORNA_TEST_NETWORK_DRIVE=N: wine "$tests" --gtest_filter='NetworkDrive.*' >"$work/out" 2>&1
status=$?
cat "$work/out"
grep -q '^\[  PASSED  \] 1 test' "$work/out" || { echo "FAIL: the network drive test did not pass"; exit 1; }
[ $status -eq 0 ] || { echo "FAIL: exit status $status"; exit 1; }
left=$(find "$work/n" -mindepth 1 | wc -l)
[ "$left" -eq 0 ] || { echo "FAIL: files left on the network drive:"; find "$work/n"; exit 1; }
echo "network drive: copies without the delete-on-close mark, nothing left behind"
