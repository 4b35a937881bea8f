#!/usr/bin/env bash
# The registry reader on files with more sections than its notes keep (524,288): a 137 MB
# system.reg of about 660,000 sections, and a 65 MB one whose version 4 host key is written in
# 600,000 sections (its InstallPath in the last). For each, the whole program finding both hosts
# (answers piped: Cancel on both), and its peak memory; the version 4 host must be found.
# Needs hyperfine and /usr/bin/time (Debian packages hyperfine and time).
#   bench/registry_many_sections.sh [BUILD_DIR]    (default build/portable, built by scripts/test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/portable}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'no\nno\n' > "$work/answers"

for case in "many-keys --size-mb 137" "one-key-many-sections --size-mb 1 --host-sections 600000"; do
  read -r name options <<<"$case"
  "$root/scripts/make-sample-prefix" "$work/$name" "$build" >/dev/null
  # shellcheck disable=SC2086
  python3 "$root/bench/gen_system_reg.py" $options --output "$work/$name/prefix/system.reg"
  reg=$work/$name/prefix/system.reg
  echo "== $name: $(awk '{printf "%.1f MB", $5 / 1e6}' < <(ls -l "$reg")), $(grep -c '^\[' "$reg") sections"
  export WINEPREFIX=$work/$name/prefix
  exe=$work/$name/Aggiornamento/AggiornaArchivio
  "$exe" < "$work/answers" | grep -q "Quintrel! Professional 4 non sia in esecuzione" ||
    { echo "the version 4 host was not found"; exit 1; }
  hyperfine --warmup 1 --runs "${RUNS:-10}" -n program "$exe < $work/answers > /dev/null" | grep -E "Time|Range"
  /usr/bin/time -v "$exe" < "$work/answers" 2>&1 >/dev/null | grep -E "Maximum resident" | sed 's/^\s*/program: /'
done
