#!/usr/bin/env bash
# Progress (not a test): what the count beside a run costs, and how honest the time left is.
#
#   bench/bench_progress.sh <path-to-stowline> <path-to-bench_progress>
#
# 1. The count's cost: the count alone (bench_progress, the run's own walk on the calling thread)
#    against a copy run and a zip run of the same tree, cold (caches dropped, when root) and warm.
#    In a run the count has a thread of its own at the lowest CPU and I/O priority, so what it
#    takes from the run is at most its own time; the ratio printed is that upper bound.
# 2. The count's cost in a run, measured: the same run with standard error on a pseudo terminal
#    (the line is shown, so the count runs beside the run) and with it in a file (nothing shown,
#    nothing counted), cold, alternating, BENCH_REPEAT times each (default 3); the medians and
#    their ratio are printed.
# 3. The estimate: a zip run with standard error on a pseudo terminal; each rewritten line is
#    stamped as it arrives, and the time left it shows where a third, a half and two thirds of the
#    bytes are done is held to the time the run really took from there. The line shows the time
#    left rounded (5 s steps under a minute, whole minutes under an hour), which the error
#    includes.
#
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default "--files 5000 --size-mb 600"), BENCH_JOBS (the jobs timed with and without the count,
# default "copyjob zipjob"; the copy run alone is timed only with copyjob).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
. "$here/bench-common.sh"
[ $# -eq 2 ] && [ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 <path-to-stowline> <path-to-bench_progress>" >&2; exit 2; }
driver=$2

work=$(mktemp -d /tmp/stowline-progressbench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/BackupJobs" "$work/run" "$work/copy" "$work/zip"
corpus=${BENCH_CORPUS:-$work/corpus}
if [ -z "${BENCH_CORPUS:-}" ]; then
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:---files 5000 --size-mb 600} "$corpus" >/dev/null
fi
cp "$1" "$work/app/stowline"
S="$work/app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
chmod 700 "$work/run"

write_job() { # name, compress (-1/0), target
    printf '%s\r\n' "[Config]" "JobName=$1" "DateLastRun=Jan-01-1900 00:00" "SizeLastRun=-1" "RunCount=0" \
        "StartTime=12:00" "Frequency=1" "DayOfWeek=254" "DayOfMonth=1" "Compress=$2" "CopyStyle=0" \
        "KeepCount=1" "KeepPeriod=Copies" "Password=" "ParseSubDir=-1" "Incremental=0" "Suspended=0" \
        "PreBackupCommand=" "PostBackupCommand=" "TargetDir=$3" "[Source]" "File_0=$corpus/" "[Exclude]" \
        "[OneShot]" >"$work/app/BackupJobs/$1.slj"
}
write_job copyjob 0 "$work/copy/"
write_job zipjob -1 "$work/zip/"
cold() { [ "$(id -u)" -eq 0 ] && bench_drop_caches || true; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f %%", (b > 0 ? 100 * a / b : 0) }'; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
read -r files bytes _ _ < <("$driver" "$corpus")
echo "tree: $files files, $((bytes / 1048576)) MiB"

cold
read -r _ _ count_cold_wall count_cold_cpu < <("$driver" "$corpus")
read -r _ _ count_warm_wall count_warm_cpu < <("$driver" "$corpus")
echo "count alone, cold: ${count_cold_wall} s wall, ${count_cold_cpu} s CPU; warm: ${count_warm_wall} s, ${count_warm_cpu} s CPU"
jobs=${BENCH_JOBS:-copyjob zipjob}
if [[ " $jobs " == *" copyjob "* ]]; then
    cold
    read -r copy_wall copy_cpu _ < <(bench_timed "$work/copy.out" "$S" /RUN copyjob /EXIT)
    rm -rf "${work:?}/copy/"*
    read -r copy_warm_wall copy_warm_cpu _ < <(bench_timed "$work/copy.out" "$S" /RUN copyjob /EXIT)
    echo "copy run, cold: ${copy_wall} s wall, ${copy_cpu} s CPU; count/run: $(ratio "$count_cold_wall" "$copy_wall") wall, $(ratio "$count_cold_cpu" "$copy_cpu") CPU"
    echo "copy run, warm: ${copy_warm_wall} s wall, ${copy_warm_cpu} s CPU; count/run: $(ratio "$count_warm_wall" "$copy_warm_wall") wall, $(ratio "$count_warm_cpu" "$copy_warm_cpu") CPU"
fi

# With and without the count: the pseudo terminal comes from script(1), whose own cost is
# counted against the count.
repeat=${BENCH_REPEAT:-3}
for job in $jobs; do
    shown_walls="" plain_walls="" shown_cpus="" plain_cpus=""
    for ((i = 0; i < repeat; i++)); do
        # Alternated in both orders: a run right after another's archive was removed is slower.
        modes="shown plain"
        [ $((i % 2)) = 1 ] && modes="plain shown"
        for mode in $modes; do
            rm -rf "${work:?}/copy/"* "${work:?}/zip/"*
            cold
            if [ "$mode" = shown ]; then
                read -r wall cpu _ < <(bench_timed "$work/$job.out" script -qefc "$S /RUN $job /EXIT" /dev/null)
                grep -q "about .* left" "$work/$job.out" || echo "  (no time left was shown on the terminal)"
                shown_walls+=" $wall" shown_cpus+=" $cpu"
            else
                read -r wall cpu _ < <(bench_timed "$work/$job.out" "$S" /RUN "$job" /EXIT)
                plain_walls+=" $wall" plain_cpus+=" $cpu"
            fi
        done
    done
    sw=$(echo $shown_walls | bench_median) pw=$(echo $plain_walls | bench_median)
    sc=$(echo $shown_cpus | bench_median) pc=$(echo $plain_cpus | bench_median)
    echo "$job, cold, median of $repeat: shown with its count ${sw} s wall (${sc} s CPU; runs:${shown_walls}), plain ${pw} s (${pc} s CPU; runs:${plain_walls}); the count's cost: $(awk -v a="$sw" -v b="$pw" 'BEGIN { printf "%+.1f %%", 100 * (a - b) / b }') wall, $(awk -v a="$sc" -v b="$pc" 'BEGIN { printf "%+.1f %%", 100 * (a - b) / b }') CPU"
done

# The zip run on a pseudo terminal, its lines stamped as they come.
python3 - "$S" <<'PY'
import os, pty, re, subprocess, sys, time
master, slave = pty.openpty()
start = time.monotonic()
proc = subprocess.Popen([sys.argv[1], "/RUN", "zipjob", "/EXIT"], stderr=slave, stdout=subprocess.DEVNULL)
os.close(slave)
seen, buf = [], b""
while True:
    try:
        chunk = os.read(master, 4096)
    except OSError:
        break
    if not chunk:
        break
    now = time.monotonic() - start
    buf += chunk
    *lines, buf = re.split(rb"[\r\n]", buf)
    for line in lines:
        seen.append((now, line.decode(errors="replace").strip()))
proc.wait()
end = time.monotonic() - start
shown = []
for t, line in seen:
    m = re.search(r": (\d+) % \(.*about (\d+) (s|min|h) left\)", line)
    if m:
        unit = {"s": 1, "min": 60, "h": 3600}[m.group(3)]
        shown.append((t, int(m.group(1)), int(m.group(2)) * unit))
print(f"zip run: {end:.1f} s, {len(seen)} lines shown")
# The first line with a percent: the count had ended by then.
first = next(((t, int(m.group(1))) for t, line in seen for m in [re.search(r": (\d+) % \(", line)] if m), None)
if first:
    print(f"  count complete by {first[0]:.1f} s ({100 * first[0] / end:.0f} % of the run), at {first[1]} % of the bytes")
for mark in (33, 50, 67):
    hit = next(((t, p, left) for t, p, left in shown if p >= mark), None)
    if hit is None:
        print(f"  at {mark} %: no time left shown")
        continue
    t, p, left = hit
    real = end - t
    print(f"  at {p} % ({t:.1f} s): shown {left} s left, really {real:.1f} s: error {100 * (left - real) / real:+.0f} %")
PY
