#!/usr/bin/env bash
# Restore speed (not a test): `stowline /RESTORE` against `unzip -o -q` for a zip-style backup and
# against `cp -a` for a copy-style backup, on the same corpus, on a fresh loop-mounted ext4 (needs
# root for the mount; without it the script measures in /tmp and says so).
#
#   bench/bench_restore.sh <path-to-stowline>
#
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default: its 5,000-file corpus), BENCH_REPEAT (runs per command, the fastest counts; default 3),
# BENCH_LOGGING_MODE (the installation's LoggingMode; 0, Detailed, logs a line per restored file).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
repeat=${BENCH_REPEAT:-3}
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline>" >&2; exit 2; }

work=$(mktemp -d /tmp/stowline-restorebench-XXXXXX)
cleanup() {
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
