#!/usr/bin/env bash
# Restore speed (not a test): `stowline /RESTORE` against `unzip -o -q` for a zip-style backup and
# against `cp -a` for a copy-style backup, on the same corpus, on a fresh loop-mounted ext4 (needs
# root for the mount; without it the script measures in /tmp and says so).
#
#   bench/bench_restore.sh <path-to-stowline>
#
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default: its 5,000-file corpus), BENCH_REPEAT (runs per command, the fastest counts; default 3),
# BENCH_LOGGING_MODE (the installation's LoggingMode; 0, Detailed, logs a line per restored file),
# BENCH_MEMORY_FILES (the two tree sizes of the memory figures, default "20000 100000"; "" skips
# them).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=bench/bench-common.sh
. "$here/bench-common.sh"
repeat=${BENCH_REPEAT:-3}
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline>" >&2; exit 2; }

work=$(mktemp -d /tmp/stowline-restorebench-XXXXXX)
cleanup() {
    umount "$work/mem" 2>/dev/null || true
    umount "$work/mnt" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/mnt" "$work/app/BackupJobs" "$work/run"
fs="fresh ext4 on a loop device"
if [ "$(id -u)" -eq 0 ] && truncate -s 2G "$work/img" && mkfs.ext4 -q "$work/img" &&
    mount -o loop "$work/img" "$work/mnt"; then
    :
else
    fs="the file system of /tmp (no loop mount)"
fi
corpus=${BENCH_CORPUS:-$work/mnt/corpus}
if [ -z "${BENCH_CORPUS:-}" ]; then
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:-} "$corpus" >/dev/null
fi

# A separate installation: the binary's folder is its application folder.
cp "$1" "$work/app/stowline"
if [ -n "${BENCH_LOGGING_MODE:-}" ]; then
    printf '[Preferences]\r\nLoggingMode=%s\r\n' "$BENCH_LOGGING_MODE" >"$work/app/Stowline.txt"
fi
S="$work/app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
chmod 700 "$work/run"
write_job() { # name, compress (-1/0), target
    printf '%s\r\n' "[Config]" "JobName=$1" "Compress=$2" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" \
        "TargetDir=$3" "[Source]" "File_0=$corpus" >"$work/app/BackupJobs/$1.slj"
}
mkdir -p "$work/mnt/zip" "$work/mnt/copy"
write_job zipjob -1 "$work/mnt/zip/"
write_job copyjob 0 "$work/mnt/copy/"
"$S" /RUN zipjob copyjob /EXIT >/dev/null
tree="$work/mnt/copy/$(basename "$corpus")"
[ -f "$work/mnt/zip/zipjob.zip" ] && [ -d "$tree" ] || { echo "the backups were not made" >&2; exit 1; }

# The fastest of $repeat runs of a command (after clearing its output folder), in seconds.
best_of() {
    local out=$1 best="" t start end
    shift
    for ((i = 0; i < repeat; ++i)); do
        rm -rf "$out"
        sync
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc)
        if [ -z "$best" ] || (($(echo "$t < $best" | bc))); then best=$t; fi
    done
    echo "$best"
}

files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
echo "corpus: $files files, $bytes bytes; on $fs; fastest of $repeat; LoggingMode ${BENCH_LOGGING_MODE:-0}"
printf '%-44s %10s %10s %8s\n' style "stowline" "reference" ratio
out="$work/mnt/out"
t_s=$(best_of "$out" "$S" /RESTORE zipjob /TO "$out")
diff -r "$corpus" "$out$corpus" >/dev/null || echo "warning: the zip restore differs from the corpus" >&2
t_r=$(best_of "$out" unzip -o -q "$work/mnt/zip/zipjob.zip" -d "$out")
printf '%-44s %10.2f %10.2f %8.2f\n' "zip style vs unzip -o -q" "$t_s" "$t_r" "$(echo "$t_s / $t_r" | bc -l)"
t_s=$(best_of "$out" "$S" /RESTORE copyjob /TO "$out")
diff -r "$corpus" "$out/$(basename "$corpus")" >/dev/null || echo "warning: the copy restore differs" >&2
t_r=$(best_of "$out" cp -a "$tree" "$out")
printf '%-44s %10.2f %10.2f %8.2f\n' "copy style vs cp -a" "$t_s" "$t_r" "$(echo "$t_s / $t_r" | bc -l)"

# Peak memory against the number of entries: a home-like tree of tiny files (so that the data
# is no part of the figure) at two sizes, each backed up by a zip and a copy job and restored
# whole; the peak resident memory of each restore, and what 1,000 more entries cost.
read -r -a sizes <<<"${BENCH_MEMORY_FILES-20000 100000}"
[ "${#sizes[@]}" -eq 2 ] || exit 0
mem=$work/mem
mkdir -p "$mem"
if [ "$(id -u)" -eq 0 ]; then bench_mount_fresh "$work/memimg" "$mem" 8 1500000; fi
echo
echo "peak memory of a whole restore (KiB), tiny files"
printf '%-12s %12s %12s\n' files zip copy
declare -A peak
for n in "${sizes[@]}"; do
    python3 "$root/../shared/bench/make-home-corpus" "$mem/tree$n" --files "$n" --tiny >/dev/null
    printf '%s\r\n' "[Config]" "JobName=memzip$n" "Compress=-1" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" \
        "TargetDir=$mem/zip$n/" "[Source]" "File_0=$mem/tree$n" >"$work/app/BackupJobs/memzip$n.slj"
    printf '%s\r\n' "[Config]" "JobName=memcopy$n" "Compress=0" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" \
        "TargetDir=$mem/copy$n/" "[Source]" "File_0=$mem/tree$n/" >"$work/app/BackupJobs/memcopy$n.slj"
    mkdir -p "$mem/zip$n" "$mem/copy$n"
    "$S" /RUN "memzip$n" "memcopy$n" /EXIT >/dev/null
    for style in zip copy; do
        rm -rf "$mem/out"
        read -r _ _ kib < <(bench_timed "$work/mem.out" "$S" /RESTORE "mem$style$n" /TO "$mem/out" /EXIT)
        got=$(find "$mem/out" -type f | wc -l)
        [ "$got" -eq "$n" ] || echo "warning: the $style restore of $n files gave $got files" >&2
        peak[$style$n]=$kib
    done
    rm -rf "$mem/out" "$mem/tree$n" "$mem/zip$n" "$mem/copy$n"
    printf '%-12s %12s %12s\n' "$n" "${peak[zip$n]}" "${peak[copy$n]}"
done
a=${sizes[0]} b=${sizes[1]}
for style in zip copy; do
    awk -v p="${peak[$style$a]}" -v q="${peak[$style$b]}" -v a="$a" -v b="$b" -v s="$style" \
        'BEGIN { printf "%s: %.2f KiB per 1,000 more entries\n", s, (q - p) * 1000 / (b - a) }'
done
