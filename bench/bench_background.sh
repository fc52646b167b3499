#!/usr/bin/env bash
# Background runs (the preference "Back up in the background": nice 10, idle I/O class, half the
# cores' workers competing, the pool's others only on idle cores) against normal scheduled runs,
# both started by the real headless agent from a one-shot moment (not a test):
#   (a) on an idle machine: the background run's wall-clock time as a multiple of a normal run's
#       (goal: at most 1.2);
#   (b) beside a CPU-bound foreground task (one busy thread per core, at nice 0): the share of
#       CPU the background run takes (its process's CPU time over its wall time, in cores; goal:
#       at most one core), the normal run's share beside it, and how much work the foreground
#       task gets done while each runs, against the same time alone.
#
#   bench/bench_background.sh <stowline-binary>
#
# Environment: BENCH_DIR (work folder, default a new one under /tmp, removed at the end),
# BENCH_CORPUS (an existing tree to back up), CORPUS_ARGS (for make-corpus, default
# "--files 600 --size-mb 120"), BENCH_REPEAT (runs per figure, the fastest counts; default 1).
# The foreground task and the agent share one session (one scheduler autogroup), as a desktop
# application and an agent started from it do; the load before and after is printed.
set -euo pipefail

[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <stowline-binary>" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=$(readlink -f "$1")
work=${BENCH_DIR:-$(mktemp -d /tmp/stowline-bgbench-XXXXXX)}
mkdir -p "$work"
work=$(readlink -f "$work")
repeat=${BENCH_REPEAT:-1}
agent=
busy=()
cleanup() {
    [ -n "$agent" ] && kill -KILL "$agent" 2>/dev/null
    for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done
    [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

corpus=${BENCH_CORPUS:-$work/corpus}
if [ ! -d "$corpus" ]; then
    echo "making a corpus (${CORPUS_ARGS:---files 600 --size-mb 120}) ..."
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" "$corpus" ${CORPUS_ARGS:---files 600 --size-mb 120} >/dev/null
fi
corpus=$(readlink -f "$corpus")
app=$work/app
mkdir -p "$app/BackupJobs" "$work/run" "$work/home" "$work/target"
chmod 700 "$work/run"
cp "$bin" "$app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run" HOME="$work/home"
cores=$(nproc)

# One scheduled run through the agent; prints "wall_s cpu_s" of the run (cpu: the agent's user
# and system time over the run, from /proc). Argument: the BackgroundRuns value (-1 or 0).
agent_run() {
    local bg=$1
    rm -rf "$work/target" && mkdir -p "$work/target"
    printf '%s\r\n' "[Preferences]" "LoggingMode=1" "BackgroundRuns=$bg" >"$app/Stowline.txt"
    printf '%s\r\n' "[Config]" "JobName=bench" "DateLastRun=Jan-01-1900 00:00" "SizeLastRun=-1" "RunCount=0" \
        "StartTime=12:00" "Frequency=4" "DayOfWeek=254" "DayOfMonth=1" "Compress=-1" "CopyStyle=0" \
        "KeepCount=1" "KeepPeriod=Copies" "Password=" "ParseSubDir=-1" "Incremental=0" "Suspended=0" \
        "PreBackupCommand=" "PostBackupCommand=" "TargetDir=$work/target/" "[Source]" "File_0=$corpus/" \
        "[Exclude]" "[OneShot]" "0=$(date -d "@$(($(date +%s) + 3))" "+%Y-%m-%d %H:%M:%S")" \
        >"$app/BackupJobs/bench.slj"
    sync
    "$app/stowline" /SILENT >"$work/agent.log" 2>&1 &
    agent=$!
    python3 - "$agent" "$work/target/.stowline-tmp-bench" "$app/BackupJobs/bench.slj" <<'PY'
import os, sys, time
pid, tmp, job = int(sys.argv[1]), sys.argv[2], sys.argv[3]
hz = os.sysconf("SC_CLK_TCK")
def cpu():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / hz
def done():
    with open(job, "rb") as f:
        return b"RunCount=1\r" in f.read()
while not os.path.isdir(tmp):
    time.sleep(0.002)
t0, c0 = time.monotonic(), cpu()
while os.path.isdir(tmp) or not done():
    time.sleep(0.01)
print(f"{time.monotonic() - t0:.2f} {cpu() - c0:.2f}")
PY
    kill -TERM "$agent"
    wait "$agent" || true
    agent=
}
best_run() { # BackgroundRuns value: the fastest of $repeat runs, "wall cpu"
    local i best="" line
    for i in $(seq 1 "$repeat"); do
        line=$(agent_run "$1")
        if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
    done
    echo "$best"
}
# The CPU-bound foreground: one counting loop per core for the given seconds; prints the total
# count (its work done).
foreground() {
    local seconds=$1 i
    busy=()
    for i in $(seq 1 "$cores"); do
        python3 -c 'import sys, time
end = time.monotonic() + float(sys.argv[1]); n = 0
while time.monotonic() < end:
    for _ in range(10000): pass
    n += 1
print(n)' "$seconds" >"$work/busy$i" &
        busy+=($!)
    done
}
# Waits for the foreground to end; its total count in FG_WORK (not in a subshell: it waits for
# this shell's children).
foreground_work() {
    local p
    FG_WORK=0
    for p in "${busy[@]}"; do wait "$p" || true; done
    busy=()
    for p in "$work"/busy*; do FG_WORK=$((FG_WORK + $(cat "$p"))); done
    rm -f "$work"/busy*
}

echo "corpus: $corpus ($(du -sm "$corpus" | cut -f1) MB, $(find "$corpus" -type f | wc -l) files); $cores cores"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# (a) idle machine
read -r nw nc <<<"$(best_run 0)"
read -r bw bc <<<"$(best_run -1)"
echo "(a) idle machine: normal run ${nw} s (cpu ${nc} s), background run ${bw} s (cpu ${bc} s)"
awk -v b="$bw" -v n="$nw" 'BEGIN { r = b / n; printf "    background/normal wall-clock: %.2f (goal <= 1.2: %s)\n", r, r <= 1.2 ? "met" : "not met" }'

# (b) beside a CPU-bound foreground task, each run against the same foreground time alone
span=$(awk -v n="$nw" 'BEGIN { printf "%d", n * 15 + 10 }')
foreground "$span"
foreground_work
alone=$FG_WORK
for bgval in 0 -1; do
    foreground "$span"
    sleep 1
    read -r w c <<<"$(agent_run "$bgval")"
    foreground_work
    work_done=$FG_WORK
    label=$([ "$bgval" = -1 ] && echo background || echo normal)
    awk -v w="$w" -v c="$c" -v d="$work_done" -v a="$alone" -v l="$label" 'BEGIN {
        share = c / w
        printf "(b) %s run beside the foreground: %.2f s, cpu %.2f s = %.2f cores; foreground work %.0f%% of alone\n", l, w, c, share, 100 * d / a
        if (l == "background") printf "    background share of CPU: %.2f cores (goal <= 1: %s)\n", share, share <= 1 ? "met" : "not met"
    }'
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
