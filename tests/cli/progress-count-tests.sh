#!/usr/bin/env bash
# What a zip run's progress counts, through the real program under a pseudo terminal (script):
# the total the line shows ("n of N files") is exactly what the run backs up, with a pattern
# entry, exclusions by name, several source entries and an incremental run that takes only the
# changed files; the percent never passes 100.
# Usage: progress-count-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
if ! command -v script >/dev/null; then
    echo "SKIP: the progress tests need script (util-linux) for a pseudo terminal"
    exit 77
fi
cli_begin progress-count "$@"

run_tty() {
    timeout "$RUN_TIMEOUT" script -qfec "$(printf '%q ' "$S" "$@")" /dev/null >"$WORK/tty" 2>&1 </dev/null
    RC=$?
}
# "percent done total" for each line the terminal showed with a percent.
shown_counts() { tr '\r' '\n' <"$WORK/tty" | sed -nE 's/^zipjob: ([0-9]+) % \(([0-9]+) of ([0-9]+) files.*/\1 \2 \3/p'; }
# Every line with a percent shows the total N, at most N files done and at most 100 %; at least one
# such line was shown.
counts_hold() {
    local n=$1 lines
    lines=$(shown_counts)
    [ -n "$lines" ] && echo "$lines" | awk -v n="$n" '$1 > 100 || $2 > $3 || $3 != n { bad = 1 } END { exit bad }'
}

# A pattern entry first (its .bin files only), then a folder with subfolders whose *.skip files
# the job leaves out. The files are slow to deflate, so that the run shows lines for a few seconds.
mkdir -p "$WORK/more" "$WORK/data/sub/deeper"
for i in 1 2 3 4; do
    slow_text 65536 "$WORK/more/m$i.bin"
    printf 'not matched\n' >"$WORK/more/m$i.txt"
done
for i in $(seq 1 40); do
    dir=$WORK/data
    [ $((i % 3)) -eq 1 ] && dir=$WORK/data/sub
    [ $((i % 3)) -eq 2 ] && dir=$WORK/data/sub/deeper
    slow_text 4194304 "$dir/f$i.bin"
    printf 'left out\n' >"$dir/f$i.skip"
done
# Older than the day of any run, so that the incremental run below takes only what changes.
find "$WORK/more" "$WORK/data" -type f -exec touch -d '3 days ago' {} +
write_job -m zipjob "$WORK/zip/" "$WORK/more/*.bin" "$WORK/data/" Compress=-1 Incremental=-1
sed -i 's/^\[Exclude\]\r$/[Exclude]\r\nFile_0=*.skip\r/' "$JOBS/zipjob.slj"

run_tty /RUN zipjob /EXIT
check "the zip run succeeds on a terminal" [ "$RC" -eq 0 ]
check "the zip run's line counts what it backs up, never past 100 %" counts_hold 44
check "the zip run ends its line with the files it backed up" grep -qaF "zipjob: 44 files (" "$WORK/tty"
check "the archive holds those files" sh -c "[ \$(unzip -Z1 '$WORK/zip/zipjob.zip' | grep -c '\\.bin\$') -eq 44 ]"

# Changed since: 15 files of the folder and one of the pattern's.
touch "$WORK/more/m2.bin" "$WORK/more/m2.txt" "$WORK/data/f3.skip"
for i in $(seq 1 15); do find "$WORK/data" -name "f$i.bin" -exec touch {} +; done
run_tty /RUN zipjob /EXIT
check "the incremental zip run succeeds" [ "$RC" -eq 0 ]
check "the incremental zip run counts only the changed files" counts_hold 16
check "the incremental zip run ends its line with the changed files" grep -qaF "zipjob: 16 files (" "$WORK/tty"
cli_end
