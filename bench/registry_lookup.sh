#!/usr/bin/env bash
# The whole program finding both hosts in a 20 MB system.reg (answers piped: Cancel on both),
# side by side with `grep -F` for the host's key line in the same file; then the program's peak
# memory; then the peak memory of the same lookup when the host's key holds a 600 MB hex value.
# Needs hyperfine and /usr/bin/time (Debian packages hyperfine and time).
#   bench/registry_lookup.sh [BUILD_DIR]    (default build/portable, built by scripts/test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/portable}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/scripts/make-sample-prefix" "$work/s" "$build" >/dev/null
python3 "$root/bench/gen_system_reg.py" --size-mb 20 --output "$work/s/prefix/system.reg"
reg=$work/s/prefix/system.reg
ls -l "$reg" | awk '{printf "system.reg: %.1f MB\n", $5 / 1e6}'

export WINEPREFIX=$work/s/prefix
run="printf 'no\\nno\\n' | $work/s/Aggiornamento/AggiornaArchivio > /dev/null"
key='[Software\\Wow6432Node\\Quibex\\Quintrel! 4]'
grep -qF "$key" "$reg" || { echo "key not in the generated file"; exit 1; }

hyperfine --warmup 5 --runs 50 --export-json "$work/h.json" \
  -n program "$run" \
  -n grep "grep -F '$key' '$reg' > /dev/null"
python3 - "$work/h.json" <<'PY'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
print(f"ratio program/grep: {r['program'] / r['grep']:.2f} (target at most 2)")
PY
printf 'no\nno\n' > "$work/answers"
/usr/bin/time -v "$work/s/Aggiornamento/AggiornaArchivio" < "$work/answers" 2>&1 >/dev/null |
  grep -E "Maximum resident" | sed 's/^\s*/program: /'

# The version 4 host's key holding a 600 MB hex value (BIG_VALUE_MB): the lookup reads through it,
# measuring it without keeping it, so the memory stays that of any lookup.
"$root/scripts/make-sample-prefix" "$work/big" "$build" >/dev/null
python3 "$root/bench/gen_big_value.py" --size-mb "${BIG_VALUE_MB:-600}" --reg "$work/big/prefix/system.reg"
ls -l "$work/big/prefix/system.reg" | awk '{printf "system.reg with the big value: %.1f MB\n", $5 / 1e6}'
WINEPREFIX=$work/big/prefix /usr/bin/time -v "$work/big/Aggiornamento/AggiornaArchivio" < "$work/answers" 2>&1 >/dev/null |
  grep -E "Maximum resident|Elapsed" | sed 's/^\s*/program, big value: /'
