#!/usr/bin/env bash
# The cost of flushing copies before they replace earlier ones: Update runs of two builds of the
# program on the same corpus and the same copy, interleaved, best of BENCH_REPEAT each:
#   1. a no-change Update (nothing to copy);
#   2. an Update after 1 % of the corpus's files were changed (given a new modification time).
# Every timed run starts with the file system's pending writes done (sync), so that neither build
# pays for what the other left unwritten.
#
#   bench/bench_flush.sh <stowline-before> <stowline-after> <corpus> [<work folder>]
#
# Corpus and work folder belong on the same fresh file system (a loop-mounted ext4): the corpus's
# files are changed by the run. BENCH_REPEAT: runs of each (default 5).
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 <stowline-before> <stowline-after> <corpus> [<work>]" >&2; exit 2; }
before=$(readlink -f "$1")
after=$(readlink -f "$2")
corpus=$(readlink -f "$3")
work=${4:-$(dirname "$corpus")/flushbench}
repeat=${BENCH_REPEAT:-5}
name=$(basename "$corpus")
rm -rf "$work"
mkdir -p "$work/target"
trap 'rm -rf "$work"' EXIT

install() { # <folder> <binary>
    mkdir -p "$1/BackupJobs"
    cp "$2" "$1/stowline"
    printf '%s\r\n' "[Config]" "JobName=upd" "DateLastRun=Jan-01-1900 00:00" "SizeLastRun=-1" "RunCount=0" \
        "StartTime=00:00" "Frequency=1" "DayOfWeek=254" "DayOfMonth=1" "Compress=0" "CopyStyle=1" "KeepCount=0" \
        "KeepPeriod=Copies" "Password=" "ParseSubDir=-1" "Incremental=0" "Suspended=0" "PreBackupCommand=" \
        "PostBackupCommand=" "TargetDir=$work/target/" "[Source]" "File_0=$corpus/*.*" "[Exclude]" "[OneShot]" \
        >"$1/BackupJobs/upd.slj"
}
install "$work/before" "$before"
install "$work/after" "$after"

# run <before|after>: one Update; prints its wall time in seconds.
run() {
    sync
    local t0 t1
    t0=$(date +%s.%N)
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$work/$1/stowline" /RUN upd /EXIT \
        >"$work/$1.out" 2>&1 || { echo "$1 run failed" >&2; cat "$work/$1.out" >&2; exit 1; }
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

# change <round>: gives 1 % of the corpus's files (every 100th, shifted by round) a new time.
change() {
    python3 - "$corpus" "$1" <<'PY'
import os, sys, time
root, shift = sys.argv[1], int(sys.argv[2])
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
now = time.time_ns()
for i in range(shift % 100, len(files), 100):
    os.utime(files[i], ns=(now, now), follow_symlinks=False)
PY
}

echo "corpus: $corpus ($(find "$corpus" -type f | wc -l) files)"
cp -a "$corpus" "$work/target/"
run after >/dev/null # the copy as Update leaves it
grep -h "Copied" "$work/after/stowline.log" | tail -1

best() { awk 'BEGIN { m = -1 } { if (m < 0 || $1 < m) m = $1 } END { printf "%.3f", m }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for kind in nochange changed; do
    : >"$work/$kind.before"
    : >"$work/$kind.after"
    for ((i = 0; i < repeat; i++)); do
        order="before after"
        [ $((i % 2)) = 1 ] && order="after before" # neither build always runs first
        for side in $order; do
            shift_by=$((i * 2))
            [ "$side" = after ] && shift_by=$((shift_by + 1))
            [ "$kind" = changed ] && change "$shift_by"
            run "$side" >>"$work/$kind.$side"
            echo >>"$work/$kind.$side"
        done
    done
    b=$(best <"$work/$kind.before")
    a=$(best <"$work/$kind.after")
    mb=$(median <"$work/$kind.before")
    ma=$(median <"$work/$kind.after")
    echo "$kind Update: before $(tr '\n' ' ' <"$work/$kind.before")-> best $b s, median $mb s;" \
        "after $(tr '\n' ' ' <"$work/$kind.after")-> best $a s, median $ma s;" \
        "ratio best $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')," \
        "median $(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.3f", a / b }')"
done
grep -h "Copied" "$work/after/stowline.log" | tail -1
