#!/usr/bin/env bash
# The first zip backup of a home-like tree and the verify of its archive (not a test): how many
# of the machine's cores each keeps busy. On a fresh loop-mounted ext4, caches dropped before
# every timed run, each build's `stowline /RUN <job> /EXIT` of a zip job into an empty target
# (Verify off, as bench_peers.sh runs it) and `stowline /VERIFY <job>` (cold, then warm), one
# line each: wall, CPU (user + system), CPU over wall, peak memory. Each archive is held to
# `unzip -t` and `bsdtar -tf` outside the timing. With a second build the two alternate round
# by round on the same tree, so that the machine's load falls on both alike.
#
#   bench/bench_zip.sh <path-to-stowline> [N] [<path-to-other-stowline>]
#
# N: files of the make-home-corpus tree (default 20,000). Environment: BENCH_REPEAT (rounds,
# default 2), BENCH_CORPUS (an existing tree, copied onto the fresh file system), BENCH_KEEP=1.
# Needs root (loop mount, dropping caches).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=bench/bench-common.sh
. "$here/bench-common.sh"

[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline> [N] [<other stowline>]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root (loop mount, dropping caches)" >&2; exit 2; }
builds=("$(readlink -f "$1")")
files=${2:-20000}
[ $# -ge 3 ] && builds+=("$(readlink -f "$3")")
rounds=${BENCH_REPEAT:-2}
for tool in /usr/bin/time python3 mkfs.ext4 unzip bsdtar; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

work=$(mktemp -d /tmp/stowline-zipbench-XXXXXX)
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    if [ -n "${BENCH_KEEP:-}" ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
bench_mount_fresh "$work/img" "$work/mnt" 8 1000000
mnt=$work/mnt
corpus=$mnt/corpus
if [ -n "${BENCH_CORPUS:-}" ]; then
    cp -a "$BENCH_CORPUS" "$corpus"
else
    python3 "$root/../shared/bench/make-home-corpus" "$corpus" --files "$files" >/dev/null
fi
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Each build in a folder of its own (its application folder: jobs, log), with the same job.
for b in "${!builds[@]}"; do
    mkdir -p "$work/app$b/BackupJobs"
    cp "${builds[$b]}" "$work/app$b/stowline"
    printf '%s\r\n' "[Config]" "JobName=zip" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" "Verify=0" \
        "TargetDir=$mnt/zip$b/" "Compress=-1" "Incremental=0" "[Source]" "File_0=$corpus" "[Exclude]" "[OneShot]" \
        >"$work/app$b/BackupJobs/zip.slj"
done

line() { # label, "wall cpu peak"
    local w c p
    read -r w c p <<<"$2"
    awk -v l="$1" -v w="$w" -v c="$c" -v p="$p" \
        'BEGIN { printf "  %-28s wall %6.2f s  cpu %6.2f s  cpu/wall %4.2f  peak %6.1f MiB\n", l, w, c, (w > 0 ? c / w : 0), p / 1024 }'
}

echo "corpus: $(find "$corpus" -type f | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes; nproc $(nproc)"
for round in $(seq 1 "$rounds"); do
    for b in "${!builds[@]}"; do
        app=$work/app$b
        rm -rf "$mnt/zip$b"
        mkdir -p "$mnt/zip$b"
        echo "round $round, build $b (${builds[$b]}), load $(cut -d' ' -f1-3 /proc/loadavg)"
        bench_drop_caches
        r=$(bench_timed "$work/run.txt" "$app/stowline" /RUN zip /EXIT) || exit 1
        line "first zip backup" "$r"
        archive=$(find "$mnt/zip$b" -maxdepth 1 -name '*.zip' | head -1)
        [ -n "$archive" ] || { echo "no archive written" >&2; exit 1; }
        bench_drop_caches
        r=$(bench_timed "$work/verify.txt" "$app/stowline" /VERIFY zip) || exit 1
        line "verify, cold" "$r"
        r=$(bench_timed "$work/verify.txt" "$app/stowline" /VERIFY zip) || exit 1
        line "verify, warm" "$r"
        unzip -tqq "$archive" >/dev/null || { echo "unzip -t failed on $archive" >&2; exit 1; }
        bsdtar -tf "$archive" >/dev/null || { echo "bsdtar failed on $archive" >&2; exit 1; }
        echo "  archive $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries, unzip -t and bsdtar passed"
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
