#!/usr/bin/env bash
# Snapshot runs of a copy-style job against rsync --link-dest (not a test), on a fresh
# loop-mounted ext4 (needs root), with a home-folder-like tree:
#   (a) the space of 30 daily snapshots with 1 % of the files changed between runs (du counts
#       each inode once), as a multiple of one copy;
#   (b) a snapshot run with nothing changed, and (c) one with 1 % changed, each timed against
#       `rsync -a --link-dest=<previous> <source>/ <new>/` of the same tree, caches dropped first;
#   (d) the peak memory (maximum resident set) of the program's runs.
#
#   bench/bench_snapshots.sh <stowline-binary> [file-count]     (default 100,000 files)
#
# Environment: BENCH_DIR (work folder, default a new one under /tmp, removed at the end),
# BENCH_RUNS (snapshots in (a), default 30), BENCH_CORPUS (an existing corpus to use; the runs
# change 1 % of its files each round), BENCH_MKFS (more mkfs.ext4 options, e.g. "-O inline_data").
set -euo pipefail

[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <stowline-binary> [file-count]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root (loop mount, dropping caches)" >&2; exit 2; }
for tool in rsync /usr/bin/time python3 mkfs.ext4 bc; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
. "$here/bench-common.sh"
# The calendar figure moves the program's clock with faketime; without it that figure is skipped.
bench_need faketime faketime || true
bin=$(readlink -f "$1")
files=${2:-100000}
runs=${BENCH_RUNS:-30}
work=${BENCH_DIR:-$(mktemp -d /tmp/stowline-snapbench-XXXXXX)}
mkdir -p "$work"
work=$(readlink -f "$work")
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

corpus=${BENCH_CORPUS:-$work/home}
if [ ! -d "$corpus" ]; then
    echo "making a home-folder corpus of $files files ..."
    python3 "$root/../shared/bench/make-home-corpus" "$corpus" --files "$files" >/dev/null
fi
corpus=$(readlink -f "$corpus")
truncate -s 16G "$work/img"
# shellcheck disable=SC2086
mkfs.ext4 -q -F -N 2000000 ${BENCH_MKFS:-} "$work/img"
mkdir -p "$work/mnt"
mount -o loop "$work/img" "$work/mnt"
mkdir -p "$work/mnt/tgt" "$work/mnt/rsync" "$work/app/BackupJobs" "$work/run" "$work/home-dir"
chmod 700 "$work/run"
cp "$bin" "$work/app/stowline"
printf '%s\r\n' "[Config]" "JobName=snap" "Compress=0" "CopyStyle=0" "ParseSubDir=-1" "Incremental=0" \
    "Verify=0" "Snapshots=-1" "KeepLast=1000" "KeepDaily=0" "KeepWeekly=0" "KeepMonthly=0" "KeepYearly=0" \
    "TargetDir=$work/mnt/tgt/" "[Source]" "File_0=$corpus/" "[Exclude]" "[OneShot]" \
    >"$work/app/BackupJobs/snap.slj"
snaps="$work/mnt/tgt/snap.snapshots"

drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches; }
# Changes 1 % of the files (new bytes appended, a new time), the same ones for the same round.
change_some() { # round
    python3 - "$corpus" "$1" <<'PY'
import os, random, sys
root, round_ = sys.argv[1], int(sys.argv[2])
paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
rng = random.Random(round_)
for p in rng.sample(paths, max(1, len(paths) // 100)):
    with open(p, "ab") as fh:
        fh.write(b"changed in round %d\n" % round_)
PY
}
# Runs the job once; prints "seconds max-rss-kB"; fails when the run fails.
snapshot_run() {
    drop_caches
    local start end
    start=$(date +%s.%N)
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work/home-dir" XDG_RUNTIME_DIR="$work/run" \
        /usr/bin/time -v -o "$work/time.txt" "$work/app/stowline" /RUN snap /EXIT >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) $(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
}
rsync_run() { # previous, new
    drop_caches
    local start end
    start=$(date +%s.%N)
    rsync -a --link-dest="$1" "$corpus/" "$2/"
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
peak_rss=0
note_rss() { [ "$1" -gt "$peak_rss" ] && peak_rss=$1 || true; }

echo "corpus: $(find "$corpus" -type f | wc -l) files, $(du -sh "$corpus" | cut -f1); target: fresh ext4 (loop)"
# (a) the snapshots of 30 days, 1 % changed between runs.
read -r t rss < <(snapshot_run)
note_rss "$rss"
first=$(ls "$snaps" | grep -v latest | head -1)
one_copy=$(du -sk "$snaps/$first" | cut -f1)
echo "first snapshot: ${t}s, $one_copy KiB"
# rsync's chain of the same states beside it, for the space (not timed).
rsync -a "$corpus/" "$work/mnt/rsync/chain-1/"
for ((i = 2; i <= runs; ++i)); do
    change_some "$i"
    read -r t rss < <(snapshot_run)
    note_rss "$rss"
    rsync -a --link-dest="$work/mnt/rsync/chain-$((i - 1))" "$corpus/" "$work/mnt/rsync/chain-$i/"
    sleep 1
done
all=$(du -sk "$snaps" | cut -f1)
count=$(ls "$snaps" | grep -vc latest)
space_ratio=$(echo "scale=3; $all / $one_copy" | bc)
echo "(a) $count snapshots: $all KiB = ${space_ratio}x one copy (goal <= 1.35)"
# What no hard-link snapshot can share: each snapshot's own folders, and the changed files.
folders=$(find "$snaps" -mindepth 2 -type d ! -path "$snaps/$first/*" -printf '%k\n' | awk '{s += $1} END {print s + 0}')
echo "    of which the later snapshots' own folders: $folders KiB ($(echo "scale=3; $folders / $one_copy" | bc)x one copy);" \
    "changed files: $((all - one_copy - folders)) KiB ($(echo "scale=3; ($all - $one_copy - $folders) / $one_copy" | bc)x)"
rsync_all=$(du -sk "$work"/mnt/rsync/chain-* | awk '{s += $1} END {print s}')
echo "    rsync --link-dest's chain of the same $runs states: $rsync_all KiB = $(echo "scale=3; $rsync_all / $(du -sk "$work/mnt/rsync/chain-1" | cut -f1)" | bc)x its first copy"

# (a2) 30 runs on 30 days (the program's clock moved on a day a run with faketime, installed
# above when it can be; file times left as they are), under the job's default calendar (last 3, 7 daily, 4 weekly, 12 monthly).
if command -v faketime >/dev/null; then
    sed -e 's/^JobName=snap\r$/JobName=cal\r/' -e '/^Keep/d' -e "s|/mnt/tgt/|/mnt/cal/|" \
        "$work/app/BackupJobs/snap.slj" >"$work/app/BackupJobs/cal.slj"
    mkdir -p "$work/mnt/cal"
    for ((i = 1; i <= runs; ++i)); do
        [ "$i" -gt 1 ] && change_some "$((100 + i))"
        env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work/home-dir" XDG_RUNTIME_DIR="$work/run" \
            NO_FAKE_STAT=1 faketime -f "+${i}d" /usr/bin/time -v -o "$work/time.txt" "$work/app/stowline" /RUN cal /EXIT >/dev/null 2>&1
        note_rss "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
    done
    cal="$work/mnt/cal/cal.snapshots"
    kept=$(ls "$cal" | grep -vc latest)
    newest_copy=$(du -sk "$cal/$(readlink "$cal/latest")" | cut -f1)
    cal_all=$(du -sk "$cal" | cut -f1)
    echo "(a2) $runs daily runs, default calendar: $kept snapshots kept, $cal_all KiB = $(echo "scale=3; $cal_all / $newest_copy" | bc)x one copy"
else
    echo "(a2) skipped: faketime is not installed"
fi

# rsync's chain on the same tree as it stands now.
rsync -a "$corpus/" "$work/mnt/rsync/0/"
# (b) nothing changed.
read -r t_snap rss < <(snapshot_run)
note_rss "$rss"
t_rsync=$(rsync_run "$work/mnt/rsync/0" "$work/mnt/rsync/1")
echo "(b) no change: stowline ${t_snap}s, rsync --link-dest ${t_rsync}s: $(echo "scale=2; $t_snap / $t_rsync" | bc)x (goal <= 1.0)"
# (c) 1 % changed.
change_some 1000
sleep 1
read -r t_snap rss < <(snapshot_run)
note_rss "$rss"
t_rsync=$(rsync_run "$work/mnt/rsync/1" "$work/mnt/rsync/2")
echo "(c) 1 % changed: stowline ${t_snap}s, rsync --link-dest ${t_rsync}s: $(echo "scale=2; $t_snap / $t_rsync" | bc)x (goal <= 1.0)"
echo "(d) peak memory of the runs: $((peak_rss / 1024)) MiB (goal <= 64)"
