#!/usr/bin/env bash
# Progress and the run summary through the real program: /RUN, /VERIFY and /RESTORE under a
# pseudo terminal (script) show one line per job rewritten in place, with a percent and the time
# left; without a terminal standard error stays empty. Each run's last log line says what it
# backed up, for the zip and the copy style, and the job file and /STATUS keep those figures.
# Usage: progress-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
if ! command -v script >/dev/null; then
    echo "SKIP: the progress tests need script (util-linux) for a pseudo terminal"
    exit 77
fi
cli_begin progress "$@"
LOG="$WORK/stowline.log"

# The program under a pseudo terminal: what the terminal got in $WORK/tty, the status in RC.
run_tty() {
    timeout "$RUN_TIMEOUT" script -qfec "$(printf '%q ' "$S" "$@")" /dev/null >"$WORK/tty" 2>&1 </dev/null
    RC=$?
}
# The log's lines without their time stamps.
log_lines() { tr -d '\r' <"$LOG" | cut -c22-; }
# The last line the log holds for a run.
last_log_line() { log_lines | tail -n 1; }
SUMMARY_RE='^  Backed up [0-9]+ files \([0-9.]+ (B|KiB|MiB|GiB)\) in ([0-9]+\.[0-9] s|[0-9]+ s|[0-9]+ min [0-9]+ s), [0-9.]+ (B|KiB|MiB|GiB)/s; [0-9]+ left out$'

# 96 slow files of 4 MiB, so that the zip run lasts well past its first second (no time left is
# guessed before it) even on an idle machine.
mkdir -p "$WORK/data/a" "$WORK/data/b"
for i in $(seq 1 96); do
    slow_text 4194304 "$WORK/data/$([ $((i % 2)) -eq 0 ] && echo a || echo b)/f$i.bin"
done
write_job -m zipjob "$WORK/zip/" "$WORK/data/" Compress=-1

run_tty /RUN zipjob /EXIT
check "/RUN on a terminal succeeds" [ "$RC" -eq 0 ]
check "/RUN on a terminal rewrites its line in place" contains "$WORK/tty" $'\r'"zipjob: "
check "/RUN on a terminal shows the percent of the bytes" grep -qaE "zipjob: [0-9]+ % \([0-9]+ of 96 files" "$WORK/tty"
check "/RUN on a terminal shows the time left" grep -qaE "zipjob: [0-9]+ % \(.*about [0-9]+ (s|min) left\)" "$WORK/tty"
check "/RUN on a terminal ends the job's line with its figures and a newline" \
    grep -qaE $'zipjob: 96 files \\(384\\.0 MiB\\) in [0-9.]+ (s|min [0-9]+ s) *\r?$' "$WORK/tty"
check "the zip run's last log line is its summary" sh -c "tr -d '\r' <'$LOG' | cut -c22- | tail -n 1 |
    grep -qE '$SUMMARY_RE'"
check "the zip run's summary counts its files and bytes" sh -c "tr -d '\r' <'$LOG' | tail -n 1 |
    grep -qF '  Backed up 96 files (384.0 MiB) in '"
check "the zip run's summary follows its other lines" sh -c "tr -d '\r' <'$LOG' | tail -n 2 | head -n 1 |
    grep -qF '  Zip size '"
check "the job file keeps the run's files" [ "$(key_of zipjob LastRunFiles)" = 96 ]
check "the job file keeps the run's bytes" [ "$(key_of zipjob LastRunBytes)" = $((96 * 4194304)) ]
check "the job file keeps the run's seconds" sh -c "key_of() { tr -d '\r' <'$JOBS/zipjob.slj' | sed -n 's/^LastRunSeconds=//p'; }
    key_of | grep -qE '^[0-9]+\.[0-9]$'"
LOG_TTY=$(log_lines | grep -v '^  Backed up ')

# The same run without a terminal: nothing on standard error, the same log lines.
rm -f "$LOG"
run /RUN zipjob /EXIT
check "/RUN without a terminal succeeds" [ "$RC" -eq 0 ]
check "/RUN without a terminal writes nothing on standard error" is_empty "$WORK/err"
check "/RUN without a terminal writes nothing on standard output" is_empty "$WORK/out"
check "the log is the same with a terminal and without" [ "$(log_lines | grep -v '^  Backed up ')" = "$LOG_TTY" ]

# /VERIFY and /RESTORE: the line on a terminal, nothing without one.
run_tty /VERIFY zipjob
check "/VERIFY on a terminal succeeds" [ "$RC" -eq 0 ]
check "/VERIFY on a terminal shows its line" grep -qaE $'\rzipjob: ([0-9]+ %|96 files)' "$WORK/tty"
check "/VERIFY on a terminal ends with the figures of what it read" grep -qaF "zipjob: 96 files (384.0 MiB) in" "$WORK/tty"
run /VERIFY zipjob
check "/VERIFY without a terminal writes nothing on standard error" is_empty "$WORK/err"
run_tty /RESTORE zipjob /TO "$WORK/restored"
check "/RESTORE on a terminal succeeds" [ "$RC" -eq 0 ]
check "/RESTORE on a terminal ends with the figures of what it restored" \
    grep -qaF "zipjob: 96 files (384.0 MiB) in" "$WORK/tty"
check "/RESTORE gives the files back" diff -r "$WORK/data" "$WORK/restored/${WORK#/}/data"
rm -rf "$WORK/restored"
run /RESTORE zipjob /TO "$WORK/restored"
check "/RESTORE without a terminal writes nothing on standard error" is_empty "$WORK/err"

# The copy style, with what it leaves out: a pipe (no data to copy) and a tagged cache folder.
mkdir -p "$WORK/docs/cache"
printf 'one\n' >"$WORK/docs/one.txt"
printf 'two two\n' >"$WORK/docs/two.txt"
printf 'Signature: 8a477f597d28d172789f06886806bc55\n' >"$WORK/docs/cache/CACHEDIR.TAG"
mkfifo "$WORK/docs/pipe"
write_job -m copyjob "$WORK/copy/" "$WORK/docs/" Compress=0 "ExcludeCaches=-1"
rm -f "$LOG"
run_tty /RUN copyjob /EXIT
check "the copy run succeeds on a terminal" [ "$RC" -eq 0 ]
check "the copy run ends its terminal line with its figures" grep -qaF "copyjob: 2 files (12 B) in" "$WORK/tty"
check "the copy run's last log line is its summary" sh -c "tr -d '\r' <'$LOG' | cut -c22- | tail -n 1 |
    grep -qE '$SUMMARY_RE'"
check "the copy run's summary counts its files and what it left out" sh -c "tr -d '\r' <'$LOG' | tail -n 1 |
    grep -qE '  Backed up 2 files \(12 B\) in .*; 2 left out$'"
check "the copy job file keeps the run's figures" \
    [ "$(key_of copyjob LastRunFiles)/$(key_of copyjob LastRunBytes)" = "2/12" ]

# An Update that finds nothing changed backs up nothing, and says so.
sed -i 's/^CopyStyle=0\r$/CopyStyle=1\r/' "$JOBS/copyjob.slj"
run /RUN copyjob /EXIT
check "an Update without changes backs up 0 files" sh -c "tr -d '\r' <'$LOG' | tail -n 1 |
    grep -qE '  Backed up 0 files \(0 B\) in .*; 2 left out$'"
check "its figures replace the earlier ones" [ "$(key_of copyjob LastRunFiles)" = 0 ]

# /STATUS shows the last run's figures as its last column; "-" for a job never run.
write_job -m never "$WORK/never/" "$WORK/data/" Compress=-1
cp "$JOBS/never.slj" "$WORK/never.before"
run /STATUS
check "/STATUS shows what the last run backed up" \
    grep -qaE $'^zipjob\t.*\t96 files \\(384\\.0 MiB\\) in [0-9.]+ (s|min [0-9]+ s)$' "$WORK/out"
check "/STATUS shows - for a job without figures" grep -qaE $'^never\t.*\t-$' "$WORK/out"
check "a job file without figures stays as it was" cmp -s "$JOBS/never.slj" "$WORK/never.before"
cli_end
