#!/usr/bin/env bash
# The built program end to end under Wine and Xvfb: with no host installed it shows the
# not-found box with its exact text and caption, and ends when the box is closed.
# Usage: run_not_found.sh path/to/AggiornaArchivio.exe [build folder]
set -uo pipefail
exe=$1
for tool in wine Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
work=$(mktemp -d)
# Xvfb picks a free display and writes its number: no clash with another test's display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
for _ in $(seq 1 100); do grep -q . "$work/display" 2>/dev/null && break; sleep 0.1; done
grep -q . "$work/display" || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -1 "$work/display")

# A copy in a folder of its own, with no archive beside it: nothing may be written anyway.
cp "$exe" "$work/AggiornaArchivio.exe"
WINEDEBUG=+msgbox wine "$work/AggiornaArchivio.exe" >/dev/null 2>"$work/trace" &
program=$!
window=
for _ in $(seq 1 120); do
  window=$(xdotool search --onlyvisible --name '^Aggiornamento Archivio$' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.25
done
[ -n "$window" ] || { echo "FAIL: no box appeared"; cat "$work/trace"; kill "$program"; exit 1; }
sleep 0.5
xdotool key --window "$window" Return 2>/dev/null
for _ in $(seq 1 40); do kill -0 "$program" 2>/dev/null || break; sleep 0.25; done
if kill -0 "$program" 2>/dev/null; then echo "FAIL: still running after OK"; kill "$program"; exit 1; fi

# Wine writes the text with \r for CR and \00e8 for "è".
expected='Non \00e8 presente alcuna versione di Quintrel! Professional.\r\rImpossibile effettuare l'"'"'aggiornamento dell'"'"'archivio estrazioni.'
boxes=$(grep -c 'MSGBOX_OnInit' "$work/trace")
if ! grep -qF "L\"$expected\"" "$work/trace" || [ "$boxes" -ne 1 ]; then
  echo "FAIL: expected exactly the not-found box"; grep MSGBOX_OnInit "$work/trace"; exit 1
fi
[ "$(ls "$work")" = "$(printf 'AggiornaArchivio.exe\ndisplay\ntrace')" ] || { echo "FAIL: files written"; ls -a "$work"; exit 1; }
echo "not-found box shown once, program ended"
