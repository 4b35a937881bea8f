#!/usr/bin/env bash
# Under Wine a replaced archive keeps its Unix mode: Wine turns a DACL given to a file into the
# file's mode (an archive of mode 0644 became 0775), so none is given there, and the new archive
# has the mode Wine gives every new file: 0666 less the umask of the prefix's server, the mode the
# host's own files were made with. A folder outside the prefix, reached through drive Z:, holds
# archives of the modes a host's files have under three umasks; the server is started again with
# each, the backend's test (WineUnixMode.*) replaces them, and their modes are read here from
# Linux. Exits 77 (skipped) without a prefix.
# Usage: unix_mode.sh path/to/AggiornaArchivio.exe BUILD_DIR   (WINEPREFIX names the prefix)
set -uo pipefail
build=$2
tests=$build/tests/backend_tests.exe
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] ||
  { echo "unix_mode: skipped, no Wine prefix in WINEPREFIX"; exit 77; }
[ -f "$tests" ] || { echo "FAIL: $tests not built"; exit 1; }
work=$(mktemp -d)
# A server started by a command of this script would keep its output open: start it quiet.
restart_server() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1
}
cleanup() {
  restart_server
  rm -rf "$work"
}
trap cleanup EXIT
status=0
# mode of the archive, and the umask its owner's files are made with
for case in "644 022" "664 002" "600 077"; do
  read -r mode mask <<<"$case"
  folder=$work/m$mode
  mkdir "$folder"
  printf 'vecchio archivio' >"$folder/Estr.bin"
  printf 'nuovo archivio' >"$folder/nuovo.bin"
  chmod "$mode" "$folder/Estr.bin"
  (umask "$mask"; restart_server)
  AGGIORNA_TEST_UNIX_FOLDER="Z:${folder//\//\\}" wine "$tests" --gtest_filter='WineUnixMode.*' >"$work/out" 2>&1
  result=$?
  if ! grep -q '^\[  PASSED  \] 1 test' "$work/out" || [ $result -ne 0 ]; then
    cat "$work/out"; echo "FAIL: the copy into $folder did not pass"; status=1; continue
  fi
  got=$(stat -c %a "$folder/Estr.bin")
  content=$(cat "$folder/Estr.bin")
  if [ "$got" = "$mode" ] && [ "$content" = "nuovo archivio" ]; then
    echo "archive of mode $mode (umask $mask): replaced, mode $got kept"
  else
    echo "FAIL: archive of mode $mode (umask $mask) is now mode $got with '$content'"; status=1
  fi
done
exit $status
