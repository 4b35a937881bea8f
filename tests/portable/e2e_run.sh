#!/usr/bin/env bash
# The built portable program end to end: a sample prefix, answers piped on standard input, and
# the boxes it printed and the files it left checked.
#   e2e_run.sh PATH_TO_AggiornaArchivio BUILD_DIR
set -uo pipefail
exe=$1
build=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# The runs' logs stay in the scenario's folder, not in the user's.
export XDG_STATE_HOME=$work/state

fail() { echo "FAIL [$scenario]: $*"; failures=$((failures + 1)); }
expect_output() { grep -qF -- "$1" "$work/out" || fail "output lacks: $1"; }
refute_output() { ! grep -qF -- "$1" "$work/out" || fail "output has: $1"; }
expect_file() { [ "$(cat "$1" 2>/dev/null)" = "$2" ] || fail "$1 is '$(cat "$1" 2>/dev/null)', expected '$2'"; }

# Runs the program of a fresh sample prefix with the given answers, at most 20 s; its exit status
# must be $expected_status (0 unless the scenario sets it; the codes are the README's).
expected_status=0
run() {
  scenario=$1
  answers=$2
  scripts_dir=$src/scripts
  "$scripts_dir/make-sample-prefix" "$work/s" "$build" >/dev/null
  cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
  [ -n "${3:-}" ] && eval "$3"
  printf "$answers" | WINEPREFIX=$work/s/prefix timeout 20 "$work/s/Aggiornamento/AggiornaArchivio" >"$work/out" 2>&1
  status=$?
  [ $status -eq "$expected_status" ] || fail "exit status $status, expected $expected_status"
  expected_status=0
}
q4() { echo "$work/s/prefix/drive_c/Programmi/Quintrel4"; }
q3() { echo "$work/s/prefix/drive_c/Programmi/Quintrel"; }

run both-ok 'ok\n\nok\n\n'
expect_output "Aggiornamento Archivio"
expect_output "Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione."
expect_output "Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione."
expect_output "L'aggiornamento è stato eseguito correttamente."
expect_file "$(q4)/Estr.bin" "archivio estrazioni nuovo"
expect_file "$(q4)/bl.bin" "dati bl nuovi"
[ ! -e "$(q4)/Estr.bi_" ] || fail "Estr.bi_ left behind by the completed update"
expect_file "$(q3)/Estr.bin" "archivio estrazioni nuovo"
ls -a "$(q4)" "$(q3)" | grep -q '\.tmp$' && fail "temporary file left"

run both-cancel 'annulla\nno\n'
expect_file "$(q4)/Estr.bin" "archivio estrazioni della versione 4 (vecchio)"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"
[ ! -e "$(q4)/bl.bin" ] || fail "bl.bin written after Cancel"
refute_output "L'aggiornamento è stato eseguito correttamente."

run closed-input ''   # end of input closes each confirmation box: Cancel
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

expected_status=4 run missing-settings-file 'ok\nok\n' 'rm "$(q4)/Dati.lib"'
expect_output "Quintrel! Professional"
expect_output "File delle impostazioni mancante. Impossibile continuare."
refute_output "Prima di continuare"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

expected_status=4 run invalid-settings-file 'ok\nok\n' 'printf "XXXX" > "$(q4)/Dati.lib"'
expect_output "Il file delle impostazioni non è valido. Impossibile continuare"
refute_output "Prima di continuare"

expected_status=1 run no-host '\n' 'rm "$work/s/prefix/system.reg"'
expect_output "Non è presente alcuna versione di Quintrel! Professional."
expect_output "Impossibile effettuare l'aggiornamento dell'archivio estrazioni."
refute_output "Prima di continuare"

# Started from inside the downloaded zip, alone in a folder: one message names what is missing
# and where, before any confirmation; nothing is written, no temporary is left.
expected_status=2 run archive-missing-beside-program 'ok\nok\n\n' 'rm "$work/s/Aggiornamento/Estr.bin"'
expect_output "Il file Estr.bin non si trova nella cartella del programma di aggiornamento:"
expect_output 'Fare clic con il pulsante destro del mouse sul file ZIP scaricato, scegliere "Estrai tutto" e avviare il programma di aggiornamento dalla cartella estratta.'
refute_output "Prima di continuare"
refute_output "Non è stato possibile copiare"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"
expect_file "$(q4)/Estr.bin" "archivio estrazioni della versione 4 (vecchio)"
[ ! -e "$(q4)/Estr.bi_" ] || fail "Estr.bi_ written without bl.bin"

expected_status=2 run only-bl-missing 'ok\nok\n\n' 'rm "$work/s/Aggiornamento/bl.bin"'
expect_output "Il file bl.bin non si trova nella cartella del programma di aggiornamento:"
refute_output "Prima di continuare"
[ ! -e "$(q4)/Estr.bi_" ] || fail "Estr.bi_ left behind with bl.bin missing"
ls -a "$(q4)" | grep -q '\.tmp$' && fail "temporary file left"

expected_status=2 run both-missing 'ok\nok\n\n' 'rm "$work/s/Aggiornamento/bl.bin" "$work/s/Aggiornamento/Estr.bin"'
expect_output "I file Estr.bin e bl.bin non si trovano nella cartella del programma di aggiornamento:"

# An extraction or a download that failed leaves an empty file: named before anything is asked,
# and no host's archive is replaced with it.
expected_status=3 run empty-delivery 'ok\nok\n\n' ': >"$work/s/Aggiornamento/Estr.bin"'
expect_output "Il file Estr.bin nella cartella del programma di aggiornamento è vuoto o danneggiato:"
expect_output "Scaricare nuovamente il file ZIP, estrarne tutti i file e avviare di nuovo l'aggiornamento."
refute_output "Prima di continuare"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"
expect_file "$(q4)/Estr.bin" "archivio estrazioni della versione 4 (vecchio)"

# The delivery's own sums: a file cut short is damaged; files that match are installed.
expected_status=3 run sums-do-not-match 'ok\nok\n\n' '(cd "$work/s/Aggiornamento" && sha256sum Estr.bin bl.bin >SHA256SUMS && printf x >>bl.bin)'
expect_output "Il file bl.bin nella cartella del programma di aggiornamento è vuoto o danneggiato:"
refute_output "Prima di continuare"
run sums-match 'ok\n\nok\n\n' '(cd "$work/s/Aggiornamento" && sha256sum -b Estr.bin bl.bin >SHA256SUMS)'
expect_output "L'aggiornamento è stato eseguito correttamente."
expect_file "$(q3)/Estr.bin" "archivio estrazioni nuovo"

# Version 3.0 alone needs no bl.bin: the update goes on.
scenario=only-30-without-bl
"$src/scripts/make-sample-prefix" --solo-30 "$work/s" "$build" >/dev/null
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
rm "$work/s/Aggiornamento/bl.bin"
printf 'ok\n\n' | WINEPREFIX=$work/s/prefix timeout 20 "$work/s/Aggiornamento/AggiornaArchivio" >"$work/out" 2>&1 ||
  fail "exit status $?"
expect_output "L'aggiornamento è stato eseguito correttamente."
expect_file "$(q3)/Estr.bin" "archivio estrazioni nuovo"

# Another program holds the 3.0 archive: it is named, and the run ends there; the host holding
# it (a program of its folder) gives the in-use message.
holder=
hold() {  # hold FILE PROGRAM: PROGRAM keeps FILE open until the scenario ends
  "$2" 600 3<"$1" &
  holder=$!
  for _ in $(seq 100); do [ "$(readlink "/proc/$holder/exe")" = "$(readlink -f "$2")" ] && return; sleep 0.05; done
}
release() { [ -n "$holder" ] && kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; holder=; }
expected_status=6 run held-by-another-program 'annulla\nok\n\n' 'hold "$(q3)/Estr.bin" "$(command -v sleep)"'
release
expect_output "Non è stato possibile aggiornare il file:"
expect_output "C:\\Programmi\\Quintrel\\Estr.bin"
expect_output "Il file è aperto in sleep. Chiudere sleep e avviare di nuovo l'aggiornamento."
refute_output "L'aggiornamento è stato eseguito correttamente."
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

expected_status=5 run held-by-the-host 'annulla\nok\n\n' 'cp "$(command -v sleep)" "$(q3)/quintrel"; hold "$(q3)/Estr.bin" "$(q3)/quintrel"'
release
expect_output "Non è stato possibile effettuare l'aggiornamento perchè Quintrel! Professional è in esecuzione."
refute_output "Il file è aperto in"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

run answers-ended-by-cr 'ok\r\rok\r\r'
expect_file "$(q4)/Estr.bin" "archivio estrazioni nuovo"
expect_file "$(q3)/Estr.bin" "archivio estrazioni nuovo"

# An answer without end (a stream of NULs) ends the input after a bounded read: Cancel on both.
scenario=endless-answer
"$src/scripts/make-sample-prefix" "$work/s" "$build" >/dev/null
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
WINEPREFIX=$work/s/prefix timeout 20 "$work/s/Aggiornamento/AggiornaArchivio" </dev/zero >"$work/out" 2>&1 ||
  fail "exit status $?"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"
expect_file "$(q4)/Estr.bin" "archivio estrazioni della versione 4 (vecchio)"

# `yes | AggiornaArchivio`: endless answers that are neither OK nor Cancel close the boxes after a
# bounded number, with a bounded output.
scenario=endless-invalid-answers
"$src/scripts/make-sample-prefix" "$work/s" "$build" >/dev/null
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
yes | WINEPREFIX=$work/s/prefix timeout 20 "$work/s/Aggiornamento/AggiornaArchivio" >"$work/out" 2>&1
status=${PIPESTATUS[1]}
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$(stat -c %s "$work/out")" -lt 20000 ] || fail "wrote $(stat -c %s "$work/out") bytes"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"
expect_file "$(q4)/Estr.bin" "archivio estrazioni della versione 4 (vecchio)"

# Output into a pipe already closed: no silent death, the boxes are closed (Cancel).
scenario=broken-pipe
"$src/scripts/make-sample-prefix" "$work/s" "$build" >/dev/null
cp "$exe" "$work/s/Aggiornamento/AggiornaArchivio"
status=$(printf 'ok\nok\nok\nok\n' | WINEPREFIX=$work/s/prefix python3 -c '
import os, subprocess, sys
r, w = os.pipe()
os.close(r)
print(subprocess.run([sys.argv[1]], stdout=w, timeout=20).returncode)' "$work/s/Aggiornamento/AggiornaArchivio")
[ "$status" = 0 ] || fail "exit status $status (a signal is negative)"
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

# A delivery folder whose name holds "\" has no Windows path: never the files of x/y.
scenario=backslash-in-folder
"$src/scripts/make-sample-prefix" --solo-30 "$work/s" "$build" >/dev/null
mkdir -p "$work/s/x\\y" "$work/s/x/y"
cp "$exe" "$work/s/x\\y/AggiornaArchivio"
cp "$work/s/Aggiornamento/Estr.bin" "$work/s/x\\y/Estr.bin"
echo "esca" >"$work/s/x/y/Estr.bin"
printf 'ok\n\n' | WINEPREFIX=$work/s/prefix timeout 20 "$work/s/x\\y/AggiornaArchivio" >"$work/out" 2>&1
status=$?
[ $status -eq 7 ] || fail "exit status $status, expected 7"
expect_output "Non è stato possibile copiare il file Estr.bin nella cartella:"
expect_output "C:\\Programmi\\Quintrel"
refute_output "L'aggiornamento è stato eseguito correttamente."
expect_file "$(q3)/Estr.bin" "archivio estrazioni della versione 3.0 (vecchio)"

if [ $failures -ne 0 ]; then
  echo "--- last output"; cat "$work/out"
  exit 1
fi
echo "e2e: all scenarios passed"
