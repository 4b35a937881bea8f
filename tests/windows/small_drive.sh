#!/usr/bin/env bash
# A copy that fills a small drive: a tmpfs of 1 MiB mapped as drive Q: of the Wine prefix, where
# the backend's disk-full test (FilesTest.DiskFull*) replaces an archive with a larger one. Needs
# root to mount the tmpfs; exits 77 (skipped) where it cannot.
# Usage: small_drive.sh path/to/AggiornaArchivio.exe BUILD_DIR   (WINEPREFIX names the prefix)
set -uo pipefail
build=$2
tests=$build/tests/backend_tests.exe
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] ||
  { echo "small_drive: skipped, no Wine prefix in WINEPREFIX"; exit 77; }
[ -f "$tests" ] || { echo "FAIL: $tests not built"; exit 1; }
[ -e "$WINEPREFIX/dosdevices/q:" ] && { echo "small_drive: skipped, drive Q: already in use"; exit 77; }
work=$(mktemp -d)
mkdir "$work/q"
cleanup() {
  rm -f "$WINEPREFIX/dosdevices/q:"
  mountpoint -q "$work/q" && umount -l "$work/q"
  rm -rf "$work"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=1m tmpfs "$work/q" 2>"$work/mount.err"; then
  echo "small_drive: skipped, cannot mount a tmpfs here: $(cat "$work/mount.err")"
  exit 77
fi
ln -s "$work/q" "$WINEPREFIX/dosdevices/q:"

AGGIORNA_TEST_SMALL_DRIVE=Q: wine "$tests" --gtest_filter='FilesTest.DiskFull*' >"$work/out" 2>&1
status=$?
cat "$work/out"
grep -q '^\[  PASSED  \] 1 test' "$work/out" || { echo "FAIL: the disk-full test did not pass"; exit 1; }
[ $status -eq 0 ] || { echo "FAIL: exit status $status"; exit 1; }
# Nothing of the copy may stay on the drive, seen from Linux too.
left=$(find "$work/q" -mindepth 1 | wc -l)
[ "$left" -eq 0 ] || { echo "FAIL: files left on the small drive:"; find "$work/q"; exit 1; }
echo "disk full on a small drive: code 61, old archive kept, no temporary"
