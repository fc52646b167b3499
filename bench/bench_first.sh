#!/usr/bin/env bash
# The first zip backup against `restic backup` only (not a test), round by round, each round on
# a fresh loop-mounted ext4 with the corpus copied onto it and the caches dropped before each
# tool: the figure bench_peers.sh gives once, repeated, so that its spread shows. Prints each
# round's wall time, CPU time (user + system) and peak memory, and the median ratio.
#
#   bench/bench_first.sh <path-to-stowline> <corpus folder> [rounds]      rounds: default 3
#
# Environment: BENCH_IMAGE_GB (size of the loop image, default 16). restic is installed (Debian
# package) when missing. Needs root (loop mount, dropping caches).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/bench-common.sh
. "$here/bench-common.sh"

[ $# -ge 2 ] && [ -x "$1" ] && [ -d "$2" ] || { echo "usage: $0 <path-to-stowline> <corpus> [rounds]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root (loop mount, dropping caches)" >&2; exit 2; }
bin=$(readlink -f "$1")
source_tree=$(readlink -f "$2")
rounds=${3:-3}
bench_need restic restic

work=$(mktemp -d /tmp/stowline-firstbench-XXXXXX)
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run RESTIC_PASSWORD='bench-Secret-9f2c'
export RESTIC_CACHE_DIR=$HOME/.cache/restic
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app/BackupJobs"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
cp "$bin" "$work/app/stowline"
mnt=$work/mnt
corpus=$mnt/corpus

ratios=""
for ((r = 1; r <= rounds; r++)); do
    umount "$mnt" 2>/dev/null || true
    rm -f "$work/img"
    bench_mount_fresh "$work/img" "$mnt" "${BENCH_IMAGE_GB:-16}" 2000000
    cp -a "$source_tree" "$corpus"
    mkdir -p "$mnt/zip"
    # A new job each round: no date of a last run, so the incremental job backs up everything.
    bench_write_job "$work/app/BackupJobs" zip "$mnt/zip" "$corpus" "Compress=-1" "Incremental=-1"
    bench_drop_caches
    read -r zw zc zm < <(bench_timed "$work/zip.out" "$work/app/stowline" /RUN zip /EXIT)
    restic init -q --repository-version 2 --repo "$mnt/restic" >/dev/null
    bench_drop_caches
    read -r rw rc rm_ < <(bench_timed "$work/restic.out" restic backup -q --repo "$mnt/restic" "$corpus")
    ratio=$(awk -v a="$zw" -v b="$rw" 'BEGIN { printf "%.2f", a / b }')
    ratios+=" $ratio"
    echo "round $r: stowline $zw s wall, $zc s CPU, $((zm / 1024)) MiB; restic $rw s, $rc s CPU, $((rm_ / 1024)) MiB; ratio $ratio"
done
echo "median ratio: $(echo "$ratios" | bench_median | xargs printf '%.2f') (goal at most 0.5)"
