#!/usr/bin/env bash
# Cost of a copy-style Rebuild over an earlier complete copy (not a test): its time and the peak
# disk space it uses on the target, on a fresh loop-mounted ext4 (needs root for the mount).
#
#   bench/bench_rebuild.sh <bench_copy driver>...
#
# Give several drivers (for example one built from an older commit) to compare them on the same
# corpus and file system. Environment: CORPUS_ARGS (make-corpus arguments, default
# "--files 3000 --size-mb 150"), BENCH_REPEAT (runs per driver, the fastest counts; default 3).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
repeat=${BENCH_REPEAT:-3}
[ $# -ge 1 ] || { echo "usage: $0 <bench_copy driver>..." >&2; exit 2; }

work=$(mktemp -d /tmp/stowline-rebuildbench-XXXXXX)
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck disable=SC2086
python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:---files 3000 --size-mb 150} "$work/corpus" >/dev/null
truncate -s 1G "$work/img"
mkfs.ext4 -q "$work/img"
mkdir "$work/mnt"
mount -o loop "$work/img" "$work/mnt"

used() { df --output=used -B1 "$work/mnt" | tail -1 | tr -d ' '; }
corpus_bytes=$(du -sb "$work/corpus" | cut -f1)
corpus_files=$(find "$work/corpus" -type f | wc -l)
echo "corpus: $corpus_files files, $corpus_bytes bytes; target: fresh ext4 on a loop device"
printf '%-60s %10s %16s %14s\n' driver "time (s)" "peak extra (MB)" "x copy size"

for driver in "$@"; do
    best=""
    peak_extra=0
    for ((i = 0; i < repeat; ++i)); do
        rm -rf "$work/mnt/tgt" "$work/app"
        mkdir "$work/mnt/tgt"
        sync
        empty=$(($(used)))
        # The earlier copy the Rebuild replaces.
        "$driver" "$work/app" rebuild 0 "$work/mnt/tgt/" "$work/corpus/*.*" >/dev/null
        sync
        base=$(($(used)))
        size=$((base - empty))
        start=$(date +%s.%N)
        "$driver" "$work/app" rebuild 0 "$work/mnt/tgt/" "$work/corpus/*.*" >/dev/null &
        pid=$!
        peak=$base
        while kill -0 "$pid" 2>/dev/null; do
            u=$(used)
            ((u > peak)) && peak=$u
        done
        wait "$pid"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc)
        if [ -z "$best" ] || (($(echo "$t < $best" | bc))); then best=$t; fi
        extra=$((peak - base))
        ((extra > peak_extra)) && peak_extra=$extra
    done
    printf '%-60s %10.2f %16.1f %14.2f\n' "$driver" "$best" "$(echo "$peak_extra / 1048576" | bc -l)" \
        "$(echo "$peak_extra / $size" | bc -l)"
done
