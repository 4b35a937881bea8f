#!/usr/bin/env bash
# Replaces a version 3.0 archive on a file system too small for the new one (a tmpfs of 4 MiB): the
# copy must fail as "disk full", keep the old archive, leave no temporary file and show the
# copy-failed box. Exits 77 (skipped) where the test may not mount a tmpfs.
#   disk_full.sh PATH_TO_AggiornaArchivio BUILD_DIR
set -uo pipefail
exe=$1
build=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
mnt=$work/mnt
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
export XDG_STATE_HOME=$work/state  # the run's log, not in the user's folder
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! mount -t tmpfs -o size=4m tmpfs "$mnt" 2>"$work/mount.err"; then
  echo "disk_full: skipped, cannot mount a tmpfs here: $(cat "$work/mount.err")"
  exit 77
fi

# Only the version 3.0 host, whose drive C: is the small file system.
"$src/scripts/make-sample-prefix" --solo-30 "$work/s" "$build" >/dev/null || { echo "FAIL: sample prefix"; exit 1; }
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
folder=$mnt/drive_c/Programmi/Quintrel
mkdir -p "$folder"
cp "$work/s/prefix/drive_c/Programmi/Quintrel/quintrel.exe" "$folder/"
rm "$work/s/prefix/dosdevices/c:"
ln -s "$mnt/drive_c" "$work/s/prefix/dosdevices/c:"

head -c $((1536 * 1024)) /dev/urandom > "$work/old"
head -c $((3 * 1024 * 1024)) /dev/urandom > "$work/s/Aggiornamento/Estr.bin"
cp "$work/old" "$folder/Estr.bin"

# strace, where present, shows the failing call: the file system must have said "no space".
tracer=()
command -v strace >/dev/null && tracer=(strace -f -o "$work/trace" -e trace=write,copy_file_range,fsync,close,rename)
printf 'ok\n\n' | WINEPREFIX=$work/s/prefix "${tracer[@]}" "$work/s/Aggiornamento/AggiornaArchivio" >"$work/out" 2>&1
status=$?

# A copy that failed: exit status 7, the copy-failed box and what to do about a full disk.
[ $status -eq 7 ] || fail "exit status $status, expected 7"
grep -qF "Non è stato possibile copiare il file Estr.bin nella cartella:" "$work/out" || fail "no copy-failed box"
grep -qF "Liberare spazio su disco e avviare di nuovo l'aggiornamento." "$work/out" || fail "no word of the full disk"
! grep -qF "L'aggiornamento è stato eseguito correttamente." "$work/out" || fail "success reported"
cmp -s "$folder/Estr.bin" "$work/old" || fail "the old archive was changed"
left=$(find "$folder" -maxdepth 1 -name '.~AggiornaArchivio-*' | wc -l)
[ "$left" -eq 0 ] || fail "$left temporary file(s) left"
[ "$(ls -A "$folder" | sort | tr '\n' ' ')" = "Estr.bin quintrel.exe " ] || fail "folder holds: $(ls -A "$folder")"
if ((${#tracer[@]})); then
  grep -qE '(write|copy_file_range|fsync|close)\(.*= -1 ENOSPC' "$work/trace" || fail "no call failed with ENOSPC"
  ! grep -qE 'rename\(' "$work/trace" || fail "a rename was attempted after the failure"
else
  echo "disk_full: strace missing, the ENOSPC failure itself is not checked"
fi
# The file system must be usable again: the temporary's space was given back.
head -c $((2 * 1024 * 1024)) /dev/zero > "$mnt/probe" 2>/dev/null || fail "space of the temporary not freed"

if [ $failures -ne 0 ]; then
  echo "disk_full: $failures failures"; echo "--- output"; cat "$work/out"
  exit 1
fi
echo "disk_full: passed"
