#!/usr/bin/env bash
# Benchmarks (not tests) of what the copy style keeps exactly and of what bounds Stowline's own
# files, through the bench_copy driver (the engine code a copy-style run uses, with the run's
# log scope and copier):
#   1. a sparse 2 GiB file holding 1 MiB of data: copy time and allocated size against `cp -a`;
#   2. the cost of the Detailed log level: a Rebuild copy and a no-change incremental Update at
#      LoggingMode 0 (Detailed) against 3 (Errors only);
#   3. a no-change incremental Update of a home-like tree (archive-flag store read, and its rows
#      of vanished files pruned) against the same walk of an earlier driver (BENCH_BASE), if given.
#
#   bench/bench_fidelity.sh [<bench_copy driver>]
#
# Environment:
#   HOME_CORPUS   an existing tree (default: made with ../shared/bench/make-home-corpus --tiny,
#                 200,000 files; HOME_FILES changes the count)
#   BENCH_BASE    a bench_copy driver built from an earlier commit, for section 3's comparison
#   BENCH_REPEAT  runs of each timed command, interleaved; the fastest counts (default 3)
#   BENCH_WORK    work folder (default: a new temporary folder, removed at the end)
#   COPY_TARGET   where section 2 copies to (default /dev/shm when it exists): creating 200,000
#                 files on a disk file system after removing as many swings by a factor of two from
#                 run to run, which would hide the log's share; the log itself stays in BENCH_WORK
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
driver=$(readlink -f "${1:-$root/build/bench/bench_copy}")
base=${BENCH_BASE:-}
repeat=${BENCH_REPEAT:-3}
[ -x "$driver" ] || { echo "no bench_copy driver at $driver (build the bench_copy target)" >&2; exit 2; }

work=${BENCH_WORK:-$(mktemp -d /tmp/stowline-fidelity-XXXXXX)}
mkdir -p "$work"
work=$(readlink -f "$work")
trap 'rm -rf "$work"' EXIT

# best <label> <command...>: runs the command, keeps the fastest wall time in <label>_best.
best() {
    local label=$1
    shift
    local t0 t1 s
    t0=$(date +%s.%N)
    "$@" >"$work/out.$label" 2>&1 || { echo "$label failed:" >&2; cat "$work/out.$label" >&2; exit 1; }
    t1=$(date +%s.%N)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    local v="${label}_best"
    if [ -z "${!v:-}" ] || awk -v a="$s" -v b="${!v}" 'BEGIN { exit !(a < b) }'; then printf -v "$v" '%s' "$s"; fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
prefs() { printf '[Preferences]\r\nLoggingMode=%s\r\n' "$2" >"$1/Stowline.txt"; }

echo "== sparse: a 2 GiB file holding 1 MiB of data =="
mkdir -p "$work/sparse/data" "$work/sparse/out" "$work/sparse/cp" "$work/sparse/app"
head -c 1M /dev/urandom >"$work/sparse/data/disk.img"
truncate -s 2G "$work/sparse/data/disk.img"
unset cp_best stow_best
for ((i = 0; i < repeat; i++)); do
    rm -rf "$work/sparse/cp/data" "$work/sparse/out/data"
    best cp cp -a "$work/sparse/data" "$work/sparse/cp/"
    best stow "$driver" "$work/sparse/app" rebuild 0 "$work/sparse/out/" "$work/sparse/data/*.*"
done
cmp "$work/sparse/data/disk.img" "$work/sparse/out/data/disk.img" || { echo "the sparse copy differs" >&2; exit 1; }
kib() { echo $(($(stat -c '%b * %B' "$1") / 1024)); }
echo "cp -a:    ${cp_best} s, $(kib "$work/sparse/cp/data/disk.img") KiB allocated"
echo "Stowline: ${stow_best} s, $(kib "$work/sparse/out/data/disk.img") KiB allocated   goal < 0.5 s and sparse"
rm -rf "$work/sparse"

corpus=${HOME_CORPUS:-}
if [ -z "$corpus" ]; then
    corpus=$work/home
    echo "making a home-like corpus in $corpus ..."
    python3 "$root/../shared/bench/make-home-corpus" "$corpus" --tiny --files "${HOME_FILES:-200000}" >/dev/null
fi
corpus=$(readlink -f "$corpus")
echo
echo "corpus: $corpus ($(find "$corpus" -type f | wc -l) files, $(find "$corpus" -type d | wc -l) folders)"

echo
echo "== log level: Detailed (0) against Errors only (3), best of $repeat =="
copies=${COPY_TARGET:-}
[ -z "$copies" ] && [ -d /dev/shm ] && copies=/dev/shm
copies=$(mktemp -d "${copies:-$work}/stowline-fidelity-XXXXXX")
trap 'rm -rf "$work" "$copies"' EXIT
echo "copies in $copies ($(stat -f -c %T "$copies")), logs in $work ($(stat -f -c %T "$work"))"
mkdir -p "$work/d0" "$work/d3"
prefs "$work/d0" 0
prefs "$work/d3" 3
unset rb0_best rb3_best nc0_best nc3_best
for ((i = 0; i < repeat; i++)); do
    for lvl in 0 3; do
        rm -rf "$copies/t$lvl" "$work/d$lvl/ArchiveFlags.db"* "$work/d$lvl/stowline.log"*
        mkdir -p "$copies/t$lvl"
        sync
        best "rb$lvl" "$driver" "$work/d$lvl" rebuild 0 "$copies/t$lvl/" "$corpus/*.*"
        best "nc$lvl" "$driver" "$work/d$lvl" update 1 "$copies/t$lvl/" "$corpus/*.*"
    done
done
echo "Rebuild copy:           Detailed ${rb0_best} s, Errors only ${rb3_best} s, ratio $(ratio "$rb0_best" "$rb3_best")   goal <= 1.05"
echo "no-change incremental:  Detailed ${nc0_best} s, Errors only ${nc3_best} s, ratio $(ratio "$nc0_best" "$nc3_best")   goal <= 1.05"
echo "log of one Rebuild and one no-change run at Detailed: $(stat -c %s "$work/d0/stowline.log") bytes"
rm -rf "$copies/t0" "$copies/t3" "$work/d0" "$work/d3"

echo
echo "== archive-flag store: no-change incremental Update at Errors only, best of $repeat =="
# Errors only, so that the log kept open does not make this build look faster than it walks.
mkdir -p "$work/f" "$copies/f"
prefs "$work/f" 3
"$driver" "$work/f" update 1 "$copies/f/" "$corpus/*.*" >/dev/null
echo "rows: $(python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("select count(*) from flags").fetchone()[0])' "$work/f/ArchiveFlags.db")"
unset new_best old_best
for ((i = 0; i < repeat; i++)); do
    [ -n "$base" ] && best old "$base" "$work/f" update 1 "$copies/f/" "$corpus/*.*"
    best new "$driver" "$work/f" update 1 "$copies/f/" "$corpus/*.*"
done
grep -q "Copied 0 files" "$work/out.new" || { echo "the no-change run copied files" >&2; exit 1; }
echo "this build:    ${new_best} s"
[ -n "$base" ] && echo "earlier build: ${old_best} s, ratio $(ratio "$new_best" "$old_best")   goal <= 1.05"
exit 0
