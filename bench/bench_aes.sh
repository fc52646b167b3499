#!/usr/bin/env bash
# AES-256 cost (not a test): the same zip job over the corpus, once with Encryption=AES256 and a
# password, once without, through `stowline /RUN <job> /EXIT`. The runs alternate (so a change in
# the machine's load falls on both alike) and the fastest of BENCH_REPEAT each counts; the wall
# and CPU (user + system) ratios are printed. The AES archive is checked with `7zz t`.
#
#   bench/bench_aes.sh <path-to-stowline>
#
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default: its 5,000-file corpus), BENCH_REPEAT (runs per job; default 3), BENCH_DIR (the work
# folder's parent, e.g. on a fresh file system).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
repeat=${BENCH_REPEAT:-3}
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline>" >&2; exit 2; }

mkdir -p "${BENCH_DIR:-/tmp}"
work=$(mktemp -d "${BENCH_DIR:-/tmp}/stowline-aesbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/BackupJobs" "$work/run" "$work/plain" "$work/aes"
corpus=${BENCH_CORPUS:-$work/corpus}
if [ -z "${BENCH_CORPUS:-}" ]; then
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:-} "$corpus" >/dev/null
fi
cp "$1" "$work/app/stowline"
S="$work/app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
chmod 700 "$work/run"
password="bench pass"
scrambled=$(python3 -c 'import sys; sys.stdout.buffer.write(bytes(b ^ 0xA5 for b in sys.argv[1].encode()))' "$password")
write_job() { # name, target, further Config lines
    local name=$1 target=$2
    shift 2
    printf '%s\r\n' "[Config]" "JobName=$name" "Compress=-1" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" \
        "TargetDir=$target/" "$@" "[Source]" "File_0=$corpus" >"$work/app/BackupJobs/$name.slj"
}
write_job plain "$work/plain"
write_job aes "$work/aes" "Password=$scrambled" "Encryption=AES256"

# Runs a job once: its wall and CPU seconds as "wall cpu".
timed_run() {
    local name=$1
    rm -f "$work/$name/$name.zip"
    /usr/bin/time -o "$work/time" -f '%e %U %S' "$S" /RUN "$name" /EXIT >/dev/null 2>&1
    [ -s "$work/$name/$name.zip" ] || { echo "the $name run wrote no archive" >&2; exit 1; }
    awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}

best_plain="" best_aes="" cpu_plain="" cpu_aes=""
for ((i = 0; i < repeat; ++i)); do
    for name in plain aes; do
        read -r wall cpu < <(timed_run "$name")
        if [ "$name" = plain ]; then
            if [ -z "$best_plain" ] || (($(echo "$wall < $best_plain" | bc))); then best_plain=$wall cpu_plain=$cpu; fi
        else
            if [ -z "$best_aes" ] || (($(echo "$wall < $best_aes" | bc))); then best_aes=$wall cpu_aes=$cpu; fi
        fi
    done
done
7zz t "-p$password" "$work/aes/aes.zip" >/dev/null || { echo "the AES archive does not test" >&2; exit 1; }

files=$(find "$corpus" -type f | wc -l)
echo "AES-256 vs unencrypted zip run: $files files, fastest of $repeat each, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-24s %10s %10s %8s\n' "" "AES-256" "plain" ratio
printf '%-24s %10.2f %10.2f %8.3f   goal <= 1.15\n' "wall (s)" "$best_aes" "$best_plain" "$(echo "$best_aes / $best_plain" | bc -l)"
printf '%-24s %10.2f %10.2f %8.3f\n' "CPU (s)" "$cpu_aes" "$cpu_plain" "$(echo "$cpu_aes / $cpu_plain" | bc -l)"
printf '%-24s %10d %10d\n' "archive (bytes)" "$(stat -c %s "$work/aes/aes.zip")" "$(stat -c %s "$work/plain/plain.zip")"
