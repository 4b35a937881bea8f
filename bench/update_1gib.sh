#!/usr/bin/env bash
# The version 3.0 update of a 1 GiB archive (answers piped) side by side with `cp` of the same
# bytes followed by `sync` on the same file system; then the update's peak memory with a 1 MiB and
# a 1 GiB archive. Needs hyperfine and /usr/bin/time (Debian packages hyperfine and time).
#   bench/update_1gib.sh [BUILD_DIR]    (default build/portable, built by scripts/test)
# Environment: BENCH_WORK_DIR, the folder to work in (default TMPDIR or /tmp; about 4 GiB free
# needed), RUNS (default 10) timed runs of each command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/portable}
runs=${RUNS:-10}
work=$(mktemp -d "${BENCH_WORK_DIR:-${TMPDIR:-/tmp}}/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Only the version 3.0 host: one box, answered OK, then the copy and the success box.
"$root/scripts/make-sample-prefix" --solo-30 "$work/s" "$build" >/dev/null
exe=$work/s/Aggiornamento/AggiornaArchivio
source=$work/s/Aggiornamento/Estr.bin
folder=$work/s/prefix/drive_c/Programmi/Quintrel
head -c 1G /dev/urandom > "$source"
cp "$source" "$folder/Estr.bin"
cp "$source" "$folder/copia.bin"
printf 'ok\n\n' > "$work/answers"

echo "file system of source and destination: $(findmnt -n -o SOURCE,FSTYPE -T "$folder")"
echo "kernel $(uname -r), $(nproc) cores"
export WINEPREFIX=$work/s/prefix
export XDG_STATE_HOME=$work/state  # the runs' logs, not in the user's folder
program="$exe < $work/answers > /dev/null"
# The same work by hand: a new file beside the old one, flushed, renamed over it (which frees the
# old file's blocks, as the program's rename over Estr.bin does).
copy="cp $source $folder/copia.tmp && sync && mv $folder/copia.tmp $folder/copia.bin"

# Warm: the source is in the page cache (the warm-up run reads it). Both commands replace a 1 GiB
# file of the same folder through a new file renamed over it. The program flushes its file and
# the folder; sync flushes everything dirty.
hyperfine --warmup 1 --runs "$runs" --prepare sync --export-json "$work/warm.json" \
  -n program "$program" -n "cp+sync+mv" "$copy"
ratio() {
  python3 - "$1" "$2" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
p, c = r["program"], r["cp+sync+mv"]
print(f"{sys.argv[2]}: program {p['mean']:.3f} s ± {p['stddev']:.3f}, cp+sync+mv {c['mean']:.3f} s ± {c['stddev']:.3f}, "
      f"ratio {p['mean'] / c['mean']:.2f} (target at most 1.2)")
PY
}
ratio "$work/warm.json" "1 GiB, source in the page cache"

# Cold: the page cache is emptied before each run, where the kernel lets us.
if (sync && echo 3 > /proc/sys/vm/drop_caches) 2>/dev/null; then
  hyperfine --runs "$((runs / 2 > 2 ? runs / 2 : 3))" --prepare 'sync; echo 3 > /proc/sys/vm/drop_caches' \
    --export-json "$work/cold.json" -n program "$program" -n "cp+sync+mv" "$copy"
  ratio "$work/cold.json" "1 GiB, page cache dropped before each run"
else
  echo "page cache cannot be dropped here (no write access to /proc/sys/vm/drop_caches): cold runs skipped"
fi

# Peak memory of one update, for a 1 GiB and a 1 MiB archive.
peak_kib() {
  /usr/bin/time -v "$exe" < "$work/answers" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}
big=$(peak_kib)
head -c 1M /dev/urandom > "$source"
small=$(peak_kib)
cmp -s "$source" "$folder/Estr.bin" || { echo "the 1 MiB update did not install the archive"; exit 1; }
echo "peak memory: 1 MiB archive ${small} KiB, 1 GiB archive ${big} KiB, difference $((big - small)) KiB" \
  "(target under 16384 KiB each, difference within 1024 KiB)"
