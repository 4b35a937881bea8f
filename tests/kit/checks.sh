#!/usr/bin/env bash
# The kit runner's own checks under Wine, in the prefix scripts/kit-under-wine made (WINEPREFIX and
# DISPLAY set, its server running), with the small programs of tests/kit/checks:
#   0. the kit's verdict (kit_verdict.sh) passes only when its exit status is 0 and its closing line
#      counts no failure;
#   1. test programs that fail, crash, hang past their bound or end with a failing status each make
#      the kit fail and are named; the closing line counts them; the runner's decisions hold on
#      their tables of cases (tests/kit/checks/runner_decisions_test.cpp);
#   2. a kit ended halfway (its runner killed while a test program has changed the keys and made a
#      folder) is put back by the next start, before anything else: the job ended that program,
#      the key that existed keeps its values, the keys and folder made are gone, the user's folder
#      of run logs holds the user's logs as they were and no other;
#   3. a kit extracted into one of the folders it makes stops, and leaves its own folder alone;
#   4. the program's run logs: a kit run leaves no folder of them where there was none (the whole
#      kit has just run in this prefix), and where the user has 20 of them, as many as the program
#      keeps, a scenario's run leaves them all as they were and none of its own;
#   5. on a prefix holding an installation of the host (its key, the App Paths entry, the three
#      component classes) the kit changes nothing, names what it found and fails.
# Usage: tests/kit/checks.sh KIT_FOLDER CHECK_PROGRAMS_FOLDER. Exit status 0 only when every check
# passed; one line each ("ok   check: ..." or "FAIL check: ...").
set -uo pipefail
kit=${1:?usage: tests/kit/checks.sh KIT_FOLDER CHECK_PROGRAMS_FOLDER}
programs=${2:?usage: tests/kit/checks.sh KIT_FOLDER CHECK_PROGRAMS_FOLDER}
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
# shellcheck source=kit_verdict.sh
. "$(dirname "${BASH_SOURCE[0]}")/kit_verdict.sh"

drive=$WINEPREFIX/drive_c
out=$(mktemp -d /tmp/aggiorna-checks.XXXXXX)
trap 'rm -rf "$out"' EXIT
status=0
failed=()
check() {  # check NAME CONDITION-DESCRIPTION: after a test, on its own line
  if [ "$2" = ok ]; then echo "ok   check: $1"; else echo "FAIL check: $1: $2"; status=1; failed+=("$1"); fi
}

# A copy of the kit, in C:\checks, whose test programs are the check programs.
rm -rf "$drive/checks"
cp -r "$kit" "$drive/checks"
rm -f "$drive/checks/prove/"*.exe "$drive/checks/prove/"*.dll
cp "$programs"/*.exe "$drive/checks/prove/"
programs_list() { printf '%s\r\n' "$@" >"$drive/checks/prove/programmi.txt"; }
# run_kit NAME argument...: run-tests.cmd of the copy, its output in $out/NAME (LF line ends); the
# verdict a vendor reads (tests/kit/kit_verdict.sh) in $out/NAME.verdict.
run_kit() {
  local name=$1; shift
  wine cmd /c "${kit_cmd:-C:\\checks\\run-tests.cmd}" "$@" </dev/null >"$out/$name.raw" 2>&1
  local code=$?
  tr -d '\r' <"$out/$name.raw" >"$out/$name"
  kit_verdict "$code" "$out/$name" >/dev/null; echo $? >"$out/$name.verdict"
  echo "$code" >"$out/$name.status"
}
has() { grep -qF -- "$2" "$out/$1"; }
# report NAME KIT_RUN STARTED: the check's line from the problems gathered in `problems`, with the
# lines of the kit run that a failed check points at.
report() {
  if ((${#problems[@]})); then
    check "$1" "$(IFS=';'; echo "${problems[*]}")"
    shows "$2"
  else
    check "$1 ($((SECONDS - $3)) s)" ok
  fi
}
shows() {  # shows NAME: the lines of a kit's output that a failed check points at
  grep -E '^(FAIL|ok |NOT RUN|==|[0-9]+ passed)' "$out/$1" | sed 's/^/     | /'
}
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
key_absent() { ! wine reg query "$@" >/dev/null 2>&1; }
# The Linux processes of this prefix (other prefixes may run the same programs) running a given
# Windows program.
processes_of() {
  local pid
  for pid in $(pgrep -f -i -- "$1"); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

# The user's folder of the program's run logs. user_logs N puts N logs of the user's own in it,
# named as the program names them (with 20, as many as it keeps, its next run removes the oldest).
logs="$drive/users/${USER:-$(id -un)}/AppData/Local/Aggiorna Archivio"
user_logs() {
  mkdir -p "$logs"
  local i
  for i in $(seq 1 "$1"); do
    printf 'log %s of the user\r\n' "$i" >"$logs/$(printf 'AggiornaArchivio-200001%02d-000000-000-1%02d.log' "$i" "$i")"
  done
  ( cd "$logs" && md5sum AggiornaArchivio-* ) >"$out/user-logs.md5"
}
# The folder holds the user's logs as they were, and nothing else.
user_logs_kept() {
  ( cd "$logs" 2>/dev/null && md5sum AggiornaArchivio-* 2>/dev/null ) | cmp -s - "$out/user-logs.md5" &&
    [ "$(find "$logs" -mindepth 1 -maxdepth 1 | wc -l)" = "$(wc -l <"$out/user-logs.md5")" ]
}

# The whole kit has just run in this prefix, where there was no such folder.
left_by_the_kit=$([ -e "$logs" ] && echo yes)

# --- 0. The verdict as a vendor reads it: the exit status and the closing line must agree. ---------
problems=()
while IFS='|' read -r code last expected; do
  printf 'output\r\n%s\r\n' "$last" >"$out/verdict-case"
  kit_verdict "$code" "$out/verdict-case" >/dev/null
  got=$?
  [ "$got" = "$expected" ] || problems+=("status $code and last line \"$last\" gave $got, not $expected")
done <<'CASES'
0|315 passed, 0 failed, 13 skipped|0
1|315 passed, 0 failed, 13 skipped|1
0|314 passed, 1 failed, 13 skipped|1
1|314 passed, 1 failed, 13 skipped|1
0|315 passed, 0 failed|1
0|[  FAILED  ] 0 tests, listed below:|1
0||1
CASES
if ((${#problems[@]})); then check "the kit's verdict needs its status and its closing line to agree" "$(IFS=';'; echo "${problems[*]}")"
else check "the kit's verdict needs its status and its closing line to agree" ok; fi

# --- 1. Every failure counted, and named. -----------------------------------------------------------
programs_list prova_passa.exe prova_fallisce.exe prova_crash.exe prova_blocca.exe prova_esito.exe
started=$SECONDS
run_kit verdicts --no-scenarios --program-timeout 5
problems=()
[ "$(cat "$out/verdicts.verdict")" != 0 ] || problems+=("the kit passed")
[ "$(cat "$out/verdicts.status")" != 0 ] || problems+=("its exit status is 0")
has verdicts "3 passed, 4 failed, 1 skipped" || problems+=("its closing line is not \"3 passed, 4 failed, 1 skipped\"")
has verdicts "ok   prova_passa.exe: 1 passed" || problems+=("the passing program is not ok")
has verdicts "NOT RUN: prova_passa.exe Controllo.Saltato: skipped by the test itself" || problems+=("the skipped test is not named")
has verdicts "FAIL prova_fallisce.exe: 1 passed, 1 failed; ended with exit status 1; failed: Controllo.Fallisce" ||
  problems+=("the failing test is not named")
has verdicts "FAIL prova_crash.exe: 0 passed, 1 failed; crashed (status 0xC0000005)" || problems+=("the crash is not named")
has verdicts "FAIL prova_blocca.exe: 0 passed, 1 failed; ran past its bound of 5 s: ended by the kit" ||
  problems+=("the hung program is not named")
has verdicts "FAIL prova_esito.exe: 1 passed, 1 failed; ended with exit status 1" ||
  problems+=("the program whose exit status says it failed is not named")
report "failing, crashing, hung and failing-status test programs each fail the kit" verdicts "$started"

# --- The runner's own decisions on tables of cases, as a test program of the kit. ------------------
programs_list runner_decisions_tests.exe
run_kit decisions --no-scenarios
if [ "$(cat "$out/decisions.verdict")" = 0 ] && has decisions "ok   runner_decisions_tests.exe: 3 passed"; then
  check "the runner's verdicts and standard-user decisions on their tables of cases" ok
else
  check "the runner's verdicts and standard-user decisions on their tables of cases" "the test program failed"
  grep -E '^(\[  FAILED|.*Failure|  Which is|Expected|  Actual|FAIL|[0-9]+ passed)' "$out/decisions" | head -20 | sed 's/^/     | /'
fi

# --- 2. A kit ended halfway is put back by the next start. ------------------------------------------
layers='HKCU\Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers'
clsid='HKLM\Software\Classes\CLSID\{438870EE-520F-11D5-BDD5-004033A00C30}'
# A compatibility setting of the user's own, in a key the kit journals and changes.
wine reg add "$layers" /v 'C:\altro\vecchio.exe' /d '~ WINXPSP3' /f >/dev/null 2>&1
user_logs 2
programs_list prova_cambia.exe
started=$SECONDS
wine cmd /c 'C:\checks\run-tests.cmd' --no-scenarios --program-timeout 120 </dev/null >"$out/killed.raw" 2>&1 &
kit_job=$!
for _ in $(seq 1 300); do [ -e "$drive/AggiornaKit/pronto" ] && break; sleep 0.1; done
problems=()
if [ ! -e "$drive/AggiornaKit/pronto" ]; then
  problems+=("the changing program never got to its changes")
else
  [ -s "$drive/ProgramData/AggiornaKit/giornale.txt" ] || problems+=("no journal on disk while the kit changes things")
  runner=$(processes_of 'e2e_runner.exe')
  [ -n "$runner" ] || problems+=("the runner's process cannot be found")
  # As Task Manager's End task or a power cut: the runner gets no chance to clean up.
  for pid in $runner; do kill -KILL "$pid"; done
  # What a run of the program would have left: a log of its own, and the user's oldest removed.
  printf 'a run of the kit\r\n' >"$logs/AggiornaArchivio-20990101-000000-000-99.log"
  rm -f "$logs"/AggiornaArchivio-20000101-*
fi
wait "$kit_job" 2>/dev/null
for _ in $(seq 1 50); do [ -z "$(processes_of 'prova_cambia.exe')" ] && break; sleep 0.1; done
[ -z "$(processes_of 'prova_cambia.exe')" ] || problems+=("the test program outlived the killed runner (the job did not end it)")
query 'HKLM\Software\Quibex\Quintrel! 4' /reg:32 | grep -q InstallPath ||
  problems+=("the host's key was not there to put back")
programs_list prova_passa.exe
run_kit after_kill --no-scenarios
[ "$(cat "$out/after_kill.verdict")" = 0 ] || problems+=("the next start did not pass")
has after_kill "== a run ended halfway left its journal" || problems+=("the next start did not say it put back a run ended halfway")
# It puts back before anything else: before the first test program.
[ "$(grep -n 'a run ended halfway' "$out/after_kill" | cut -d: -f1)" -lt "$(grep -n '^== prova_passa.exe' "$out/after_kill" | cut -d: -f1)" ] 2>/dev/null ||
  problems+=("the next start ran a test program before putting back")
key_absent 'HKLM\Software\Quibex' /reg:32 || problems+=("HKLM\\Software\\Quibex (made by the run) is still there")
key_absent "$clsid" || problems+=("the class registered by the run is still there")
query "$layers" /v 'C:\altro\vecchio.exe' | grep -qF '~ WINXPSP3' || problems+=("the user's own compatibility setting was not put back")
! query "$layers" | grep -qiF 'nuovo.exe' || problems+=("the compatibility setting added by the run is still there")
[ ! -e "$drive/AggiornaKit" ] || problems+=("C:\\AggiornaKit (made by the run) is still there")
[ ! -e "$drive/ProgramData/AggiornaKit" ] || problems+=("the journal's folder is still there")
user_logs_kept || problems+=("the user's run logs are not as they were: $(find "$logs" -mindepth 1 -maxdepth 1 -printf '%f ' 2>&1)")
report "a kit ended halfway is put back by the next start" after_kill "$started"
rm -rf "$logs"
wine reg delete "$layers" /v 'C:\altro\vecchio.exe' /f >/dev/null 2>&1

# --- 3. The kit never removes its own folder. ---------------------------------------------------------
mkdir -p "$drive/AggiornaKit"
cp -r "$drive/checks" "$drive/AggiornaKit/kit"
started=$SECONDS
kit_cmd='C:\AggiornaKit\kit\run-tests.cmd' run_kit own_folder --no-scenarios
problems=()
[ "$(cat "$out/own_folder.verdict")" != 0 ] || problems+=("the kit passed")
has own_folder 'FAIL C:\AggiornaKit exists, and the kit did not make it' || problems+=("it does not say which folder stops it")
! has own_folder "== prova_passa.exe" || problems+=("it ran a test program")
[ -f "$drive/AggiornaKit/kit/run-tests.cmd" ] && [ -f "$drive/AggiornaKit/kit/e2e/e2e_runner.exe" ] ||
  problems+=("the kit's own folder lost files")
[ ! -e "$drive/ProgramData/AggiornaKit" ] || problems+=("it wrote a journal")
report "a kit extracted into C:\AggiornaKit stops and keeps its folder" own_folder "$started"
rm -rf "$drive/AggiornaKit"

# --- 4. The program's run logs. ---------------------------------------------------------------------
problems=()
[ -z "$left_by_the_kit" ] || problems+=("the whole kit's run left $logs")
user_logs 20
started=$SECONDS
wine 'C:\checks\e2e\e2e_runner.exe' solo_30_ok </dev/null >"$out/logs.raw" 2>&1
code=$?
tr -d '\r' <"$out/logs.raw" >"$out/logs"
[ "$code" = 0 ] && has logs "ok   solo_30_ok" || problems+=("the scenario did not pass (status $code)")
user_logs_kept || problems+=("the user's run logs are not as they were: $(find "$logs" -mindepth 1 -maxdepth 1 -printf '%f ' 2>&1)")
report "the program's run logs: none left where there were none, the user's 20 kept as they were" logs "$started"
rm -rf "$logs"

# --- 5. A machine where the host is installed is left as it is. --------------------------------------
host_keys=('HKLM\Software\Quibex' 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\quintrel.exe')
classes=('{438870EE-520F-11D5-BDD5-004033A00C30}' '{957766AF-14CE-11D2-95CA-0000B43369D3}'
         '{957766B5-14CE-11D2-95CA-0000B43369D3}')
wine reg add 'HKLM\Software\Quibex\Quintrel! 4' /v InstallPath /d 'C:\Programmi\Quintrel4' /f /reg:32 >/dev/null 2>&1
wine reg add "${host_keys[1]}" /ve /d 'C:\Programmi\Quintrel\quintrel.exe' /f /reg:32 >/dev/null 2>&1
for class in "${classes[@]}"; do
  wine reg add "HKLM\\Software\\Classes\\CLSID\\$class\\InprocServer32" /ve /d 'C:\Programmi\Quintrel4\Componenti.dll' /f >/dev/null 2>&1
done
snapshot() {  # the host's keys and those the kit would change first
  query "${host_keys[0]}" /s /reg:32; query "${host_keys[1]}" /s /reg:32; query "$layers" /s
  for class in "${classes[@]}"; do query "HKLM\\Software\\Classes\\CLSID\\$class" /s; done
}
snapshot >"$out/before.reg"
# A program that changes keys if it runs: nothing of it may show.
programs_list prova_cambia.exe
started=$SECONDS
run_kit host --program-timeout 20
snapshot >"$out/after.reg"
problems=()
[ "$(cat "$out/host.verdict")" != 0 ] || problems+=("the kit passed")
[ "$(cat "$out/host.status")" != 0 ] || problems+=("its exit status is 0")
has host "this machine holds an installation of the host" || problems+=("it does not say why it stops")
has host 'HKLM\Software\Quibex\Quintrel! 4 (32-bit view) (InstallPath = "C:\Programmi\Quintrel4")' || problems+=("it does not name the host's key")
has host 'App Paths\quintrel.exe' || problems+=("it does not name the App Paths entry")
for class in "${classes[@]}"; do has host "$class" || problems+=("it does not name the class $class"); done
has host "0 passed, 1 failed, 0 skipped" || problems+=("its closing line is not \"0 passed, 1 failed, 0 skipped\"")
! has host "== prova_cambia.exe" || problems+=("it ran a test program")
! has host "== end-to-end scenarios" || problems+=("it ran the scenarios")
[ -s "$out/before.reg" ] && cmp -s "$out/before.reg" "$out/after.reg" || problems+=("the registry changed: $(diff "$out/before.reg" "$out/after.reg" | head -3 | tr '\n' ' ')")
[ ! -e "$drive/AggiornaKit" ] || problems+=("it made C:\\AggiornaKit")
[ ! -e "$drive/ProgramData/AggiornaKit" ] || problems+=("it wrote a journal")
report "a prefix holding the host is left as it is" host "$started"

if ((${#failed[@]})); then echo "FAILED checks: ${failed[*]}"; fi
exit $status
