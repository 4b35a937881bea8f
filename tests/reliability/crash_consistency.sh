#!/usr/bin/env bash
# Kills the portable program with SIGKILL while it replaces a large version 3.0 archive, many times
# over: the host's archive must always be byte-equal to the old or the new one, and the temporary
# files a killed run leaves must be gone after the next complete run.
#   crash_consistency.sh PATH_TO_AggiornaArchivio BUILD_DIR
# Environment: KILLS (default 60) runs to kill, ARCHIVE_MIB (default 256) archive size,
# CRASH_WORK_DIR (default: a new folder under TMPDIR) where the prefix is made.
set -uo pipefail
exe=$1
build=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
kills=${KILLS:-60}
mib=${ARCHIVE_MIB:-256}
work=$(mktemp -d "${CRASH_WORK_DIR:-${TMPDIR:-/tmp}}/crash.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
export XDG_STATE_HOME=$work/state  # the runs' logs, not in the user's folder
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Only the version 3.0 host: its box is the first one, so a piped "ok" starts the copy at once.
"$src/scripts/make-sample-prefix" --solo-30 "$work/s" "$build" >/dev/null || { echo "FAIL: sample prefix"; exit 1; }
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
folder=$work/s/prefix/drive_c/Programmi/Quintrel
dest=$folder/Estr.bin
source=$work/s/Aggiornamento/Estr.bin
# Two archives that differ from their first byte on, so that cmp tells them apart at once; the
# source beside the program is a hard link to whichever of the two the destination is not, so
# every run replaces the archive and nothing has to be copied back between runs.
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$work/A"
{ printf 'B'; head -c "$((mib * 1024 * 1024 - 1))" "$work/A"; } > "$work/B"
cp "$work/A" "$dest"

same_as() { cmp -s "$dest" "$1"; }
# Which archive the destination holds now: A, B or "" (damaged).
current() {
  if same_as "$work/A"; then echo A; elif same_as "$work/B"; then echo B; else echo ""; fi
}
temporaries() { find "$folder" -maxdepth 1 -name '.~AggiornaArchivio-*.tmp' -printf '%f\n'; }
point_source_away_from() { ln -f "$work/$([ "$1" = A ] && echo B || echo A)" "$source"; }

start() {
  printf 'ok\n' | WINEPREFIX=$work/s/prefix "$work/s/Aggiornamento/AggiornaArchivio" >"$work/out" 2>&1 &
  pid=$!
}

# Waits until a temporary file of the run `pid` holds every byte (the copy is done; the flush, the
# rename and the folder sync follow), or the run has ended.
wait_for_full_temporary() {
  local size=$((mib * 1024 * 1024)) state n
  for ((n = 0; n < 20000; n++)); do
    [ -n "$(find "$folder" -maxdepth 1 -name ".~AggiornaArchivio-$pid-*.tmp" -size "${size}c" -print -quit 2>/dev/null)" ] && return
    state=Z; read -r _ _ state _ 2>/dev/null < "/proc/$pid/stat"
    [ "$state" = Z ] && return
    sleep 0.001
  done
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
sleep_ms() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }

# One complete run, timed, to spread the kill moments over the copy.
point_source_away_from A
t0=$(now_ms)
start
wait_for_full_temporary
t_full=$(now_ms)
wait "$pid"; status=$?
t_end=$(now_ms)
duration_ms=$((t_end - t0))
tail_ms=$((t_end - t_full))
[ $status -eq 0 ] || fail "complete run: exit status $status"
[ "$(current)" = B ] || fail "complete run did not install the new archive"
grep -qF "L'aggiornamento è stato eseguito correttamente." "$work/out" || fail "complete run: no success box"
echo "one complete ${mib} MiB update: ${duration_ms} ms, of which ${tail_ms} ms after the data was copied"

# Kill moments: a third spread evenly over the whole run, a third at a random moment of it, and a
# third at a random moment after the temporary file reached its full size, where the flush, the
# rename and the folder sync happen.
killed_after_rename=0
killed_before_rename=0
for ((i = 0; i < kills; i++)); do
  before=$(current)
  [ -n "$before" ] || { fail "archive damaged before kill $i"; break; }
  point_source_away_from "$before"
  start
  case $((i % 3)) in
    0) delay_ms=$(( duration_ms * 11 * (i / 3) * 3 / (10 * kills) )); sleep_ms "$delay_ms" ;;
    1) delay_ms=$(( RANDOM % (duration_ms * 11 / 10 + 1) )); sleep_ms "$delay_ms" ;;
    2) wait_for_full_temporary
       delay_ms=$(( RANDOM % (tail_ms * 12 / 10 + 2) ))
       sleep_ms "$delay_ms"
       delay_ms="full+$delay_ms" ;;
  esac
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null

  after=$(current)
  if [ -z "$after" ]; then
    fail "kill $i (delay ${delay_ms} ms): the archive is neither the old nor the new one"
    cmp "$dest" "$work/A" | head -1; cmp "$dest" "$work/B" | head -1
    break
  fi
  if [ "$after" = "$before" ]; then killed_before_rename=$((killed_before_rename + 1))
  else killed_after_rename=$((killed_after_rename + 1)); fi
  # A run removes stale temporaries before it makes its own: once this run's file exists, no older
  # one may be left beside it.
  mapfile -t left < <(temporaries)
  if printf '%s\n' "${left[@]}" | grep -q "^\.~AggiornaArchivio-$pid-" && [ "${#left[@]}" -gt 1 ]; then
    fail "kill $i: stale temporaries kept beside the run's own: ${left[*]}"
  fi
  [ "${#left[@]}" -le 2 ] || fail "kill $i: ${#left[@]} temporaries accumulated: ${left[*]}"
done
echo "kills: $kills (archive still old: $killed_before_rename, already new: $killed_after_rename)"
[ $killed_before_rename -gt 0 ] || fail "no kill landed before the rename: kill moments do not cover the copy"

# One more run to the end: the new archive in place and no temporary file left.
before=$(current)
stale=$(temporaries | wc -l)
point_source_away_from "$before"
start
wait "$pid"; status=$?
[ $status -eq 0 ] || fail "final run: exit status $status"
expected=$([ "$before" = A ] && echo B || echo A)
[ "$(current)" = "$expected" ] || fail "final run did not install the new archive"
[ -z "$(temporaries)" ] || fail "final run left temporaries: $(temporaries | tr '\n' ' ')"
echo "final run: $stale stale temporaries before, $(temporaries | wc -l) after"

if [ $failures -ne 0 ]; then
  echo "crash_consistency: $failures failures"; echo "--- last output"; cat "$work/out"
  exit 1
fi
echo "crash_consistency: passed"
