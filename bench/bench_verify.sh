#!/usr/bin/env bash
# Copy-style verify speed (not a test): `stowline /VERIFY` of a copy job against `diff -r` of the
# same two trees (the corpus and its copy), both reading every byte of both sides. The page
# cache is warmed by one untimed run of each first, so both are timed on the same footing.
#
#   bench/bench_verify.sh <path-to-stowline>
#
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default: its 5,000-file corpus), BENCH_REPEAT (runs per command, the fastest counts; default 3).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
repeat=${BENCH_REPEAT:-3}
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline>" >&2; exit 2; }

work=$(mktemp -d /tmp/stowline-verifybench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/BackupJobs" "$work/run" "$work/copy"
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
printf '%s\r\n' "[Config]" "JobName=copyjob" "Compress=0" "CopyStyle=0" "ParseSubDir=-1" \
    "TargetDir=$work/copy/" "[Source]" "File_0=$corpus" >"$work/app/BackupJobs/copyjob.slj"
# The job's record keeps minutes: files changed in the minute of the run are not judged, so the
# run starts in a later minute than the corpus was made, and every file is compared.
sleep $((61 - 10#$(date +%S)))
"$S" /RUN copyjob /EXIT >/dev/null
tree="$work/copy/$(basename "$corpus")"
[ -d "$tree" ] || { echo "the backup was not made" >&2; exit 1; }
"$S" /VERIFY copyjob >/dev/null || { echo "the copy does not verify" >&2; exit 1; }
diff -r "$corpus" "$tree" >/dev/null || { echo "the copy differs from the corpus" >&2; exit 1; }

# The fastest of $repeat runs of a command, in seconds.
best_of() {
    local best="" t start end
    for ((i = 0; i < repeat; ++i)); do
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
echo "corpus: $files files, $bytes bytes; fastest of $repeat, warm cache"
t_s=$(best_of "$S" /VERIFY copyjob)
t_r=$(best_of diff -r "$corpus" "$tree")
printf '%-32s %10s %10s %8s\n' "" "stowline" "diff -r" ratio
printf '%-32s %10.2f %10.2f %8.2f\n' "copy-style /VERIFY vs diff -r" "$t_s" "$t_r" "$(echo "$t_s / $t_r" | bc -l)"
