#!/usr/bin/env bash
# The command line checked from outside, as a user's script or a service manager sees it:
# no display, a separate installation (a copy of the binary in a temporary folder, with its
# own jobs, logs and preferences), exit statuses, standard output and standard error.
# Usage: run-cli-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin cli "$@"
AGENT_PID=""
cleanup() {
    if [ -n "$AGENT_PID" ] && kill -0 "$AGENT_PID" 2>/dev/null; then kill -KILL "$AGENT_PID" 2>/dev/null; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# ---- help ----
run "/?"
printf 'Stowline command-line parameters are as follows:\n/SILENT -\t\tNo dialog at startup, tray only\n/RUN <jobname.slj> -\tNotice: no path, no spaces\n/EXIT -\t\t\tExit Stowline upon completion\n/? -\t\t\tThis help dialog\n/STATUS -\t\tEach job'"'"'s state; exit 1 if any failed or stale\n/RESTORE <job> [/FROM <archive or folder>] [/TO <folder>] [/ONLY <wildcard>]... [/OVERWRITE] -\tRestore files\n/VERIFY <job>... -\tRead the newest backups back\n/RETENTION <job> -\tWhich snapshots the calendar keeps or removes (nothing is changed)\n/SETPASSWORD <job> -\tKeep the job'"'"'s password (read from standard input) in the desktop keyring\n/SETPASSWORD /SMTP -\tKeep the mail server'"'"'s password for reports (read from standard input) in the desktop keyring\n' >"$WORK/expected-help"
check "/? exits 0" [ "$RC" -eq 0 ]
check "/? prints the help lines on stdout" cmp -s "$WORK/out" "$WORK/expected-help"
check "/? writes nothing on stderr" is_empty "$WORK/err"
run /RUN nosuchjob /EXIT "/?"
check "/? wins over every other switch" [ "$RC" -eq 0 ]

# ---- a missing job ----
run /RUN nosuchjob /EXIT
check "missing job exits 1" [ "$RC" -eq 1 ]
check "missing job: Verification Error on stderr" contains "$WORK/err" \
    "Verification Error: You have attempted to run Stowline with command-line parameters."
check "missing job: second line" contains "$WORK/err" "Unfortunately, the file as you specified does not exist."
check "missing job: names the full path" contains "$WORK/err" \
    "The missing file as you specified is: $JOBS/nosuchjob.slj"
check "missing job: nothing on stdout" is_empty "$WORK/out"

# ---- a job name reaching outside the job folder ----
mkdir -p "$WORK/outside"
printf '%s\r\n' "[Config]" "JobName=outside" "Compress=0" "TargetDir=$WORK/outside/" "[Source]" \
    "File_0=$WORK/outside/none" >"$WORK/outside/x.slj"
run /RUN ../outside/x /EXIT
check "a name with a folder part exits 1" [ "$RC" -eq 1 ]
check "a name with a folder part is a missing file" contains "$WORK/err" "Unfortunately, the file as you specified does not exist."
check "a job file outside the job folder is never run" sh -c "! grep -q outside '$WORK/stowline.log' 2>/dev/null"

# ---- unknown switch, no display ----
run /RUN /bogus /EXIT
check "unknown switch exits 2" [ "$RC" -eq 2 ]
check "unknown switch shows the help on stdout" cmp -s "$WORK/out" "$WORK/expected-help"
run
check "without a display and without /SILENT: exit 2" [ "$RC" -eq 2 ]
check "without a display: says a display is needed" contains "$WORK/err" "display"

# ---- real backups ----
mkdir -p "$WORK/data/sub" "$WORK/copy-target" "$WORK/zip-target"
echo "first file" >"$WORK/data/a.txt"
echo "second file" >"$WORK/data/sub/b.txt"
write_job copyjob "$WORK/copy-target/" "$WORK/data/" Compress=0
write_job zipjob "$WORK/zip-target/" "$WORK/data/" Compress=-1
run /RUN copyjob zipjob /EXIT
check "copy and zip jobs exit 0" [ "$RC" -eq 0 ]
COPIED=$(find "$WORK/copy-target" -name b.txt -type f | head -1)
check "copy job copied the tree" [ -n "$COPIED" ]
check "copy job copied the bytes" cmp -s "$WORK/data/sub/b.txt" "${COPIED:-/nonexistent}"
check "zip job made its archive" [ -f "$WORK/zip-target/zipjob.zip" ]
check "the archive tests clean" sh -c "unzip -tq '$WORK/zip-target/zipjob.zip' >/dev/null"
check "the archive holds the files" sh -c "unzip -l '$WORK/zip-target/zipjob.zip' | grep -q 'data/sub/b.txt'"
check "the runs were recorded in the job files" [ "$(key_of zipjob RunCount)" = 1 ] 
check "the transaction log was written" contains "$WORK/stowline.log" "zipjob"
run /RUN zipjob.slj /EXIT
check "a name with .slj runs the same job" [ "$(key_of zipjob RunCount)" = 2 ]
check "the previous archive was kept as a numbered copy" [ -f "$WORK/zip-target/zipjob_1.zip" ]

write_job failing "$WORK/copy-target2/" "$WORK/no-such-source/" Compress=0
mkdir -p "$WORK/copy-target2"
run /RUN failing copyjob /EXIT
check "a failing job exits 1" [ "$RC" -eq 1 ]
check "the job after a failing one still ran" [ "$(key_of copyjob RunCount)" = 2 ]

# ---- restore and verify ----
mtime_of() { stat -c %Y "$1" 2>/dev/null; }
same_file() { cmp -s "$1" "$2" && [ "$(mtime_of "$1")" = "$(mtime_of "$2")" ]; }
mkdir -p "$WORK/rdata/sub" "$WORK/rzip" "$WORK/rcopy"
printf 'one\n' >"$WORK/rdata/a.txt"
head -c 200000 /dev/urandom >"$WORK/rdata/sub/b.bin"
touch -d @1600000000 "$WORK/rdata/a.txt" "$WORK/rdata/sub/b.bin"
cp -a "$WORK/rdata" "$WORK/rdata-v1"
write_job rzip "$WORK/rzip/" "$WORK/rdata/" Compress=-1
write_job rcopy "$WORK/rcopy/" "$WORK/rdata/" Compress=0
run /RUN rzip /EXIT
printf 'two\n' >"$WORK/rdata/a.txt"
touch -d @1600000100 "$WORK/rdata/a.txt"
cp -a "$WORK/rdata" "$WORK/rdata-v2"
run /RUN rzip rcopy /EXIT
check "two zip runs and a copy run for the restore" [ -f "$WORK/rzip/rzip_1.zip" ] && [ "$RC" -eq 0 ]
rm -rf "$WORK/rdata"
run /RESTORE rzip
check "/RESTORE from the newest archive exits 0" [ "$RC" -eq 0 ]
check "/RESTORE prints a summary" contains "$WORK/out" "restored 2 files"
check "the newest archive's files are back, bytes and times" \
    sh -c "$(declare -f mtime_of same_file); same_file '$WORK/rdata-v2/a.txt' '$WORK/rdata/a.txt' && same_file '$WORK/rdata-v2/sub/b.bin' '$WORK/rdata/sub/b.bin'"
run /RESTORE rzip /FROM rzip_1.zip /TO "$WORK/older"
check "/RESTORE /FROM an older numbered archive /TO a folder exits 0" [ "$RC" -eq 0 ]
check "the older archive's file is in the chosen folder, bytes and time" \
    sh -c "$(declare -f mtime_of same_file); same_file '$WORK/rdata-v1/a.txt' '$WORK/older$WORK/rdata/a.txt'"
cp "$WORK/rzip/rzip_1.zip" "$WORK/rzip/rzip_P20200913.zip"
run /RESTORE rzip /FROM rzip_P20200913.zip
check "existing files are skipped without /OVERWRITE" sh -c "[ $RC -eq 0 ] && grep -q two '$WORK/rdata/a.txt'"
check "the summary counts them" contains "$WORK/out" "skipped 2 existing"
run /RESTORE rzip /FROM rzip_P20200913.zip /ONLY '*.txt' /OVERWRITE
check "/OVERWRITE /ONLY brings back the dated archive's matching file" \
    sh -c "$(declare -f mtime_of same_file); [ $RC -eq 0 ] && same_file '$WORK/rdata-v1/a.txt' '$WORK/rdata/a.txt'"
check "/ONLY restored one file" contains "$WORK/out" "restored 1 files"
rm -rf "$WORK/rdata/sub"
run /RESTORE rcopy
check "/RESTORE of a copy job brings the tree back" \
    sh -c "$(declare -f mtime_of same_file); [ $RC -eq 0 ] && same_file '$WORK/rdata-v2/sub/b.bin' '$WORK/rdata/sub/b.bin'"
python3 - "$WORK/rzip/evil.zip" "$WORK/outside-target" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name, data, mode in (("../escaped.txt", "x", 0o100644), ("link", sys.argv[2], 0o120777),
                             ("link/through.txt", "x", 0o100644), ("fine.txt", "fine", 0o100644)):
        info = zipfile.ZipInfo(name)
        info.create_system = 3
        info.external_attr = mode << 16
        z.writestr(info, data)
PY
mkdir -p "$WORK/outside-target" "$WORK/evil-out"
run /RESTORE rzip /FROM "$WORK/rzip/evil.zip" /TO "$WORK/evil-out/in"
check "a hostile archive exits 1" [ "$RC" -eq 1 ]
check "nothing escaped the chosen folder" sh -c "[ ! -e '$WORK/evil-out/escaped.txt' ] && [ -z \"\$(ls -A '$WORK/outside-target')\" ]"
check "the hostile entries are named" contains "$WORK/out" "not restored: link/through.txt"
check "the harmless entry was restored" [ "$(cat "$WORK/evil-out/in/fine.txt" 2>/dev/null)" = fine ]
run /VERIFY rzip rcopy
check "/VERIFY of intact backups exits 0" [ "$RC" -eq 0 ]
python3 - "$WORK/rzip/rzip.zip" <<'PY'
import os, sys
with open(sys.argv[1], "r+b") as f:
    middle = os.path.getsize(sys.argv[1]) // 2
    f.seek(middle)
    b = f.read(1)
    f.seek(middle)
    f.write(bytes([b[0] ^ 0x01]))
PY
run /VERIFY rcopy rzip
check "/VERIFY exits 1 on one flipped byte" [ "$RC" -eq 1 ]
check "/VERIFY names the damaged backup" contains "$WORK/out" "Verify failed for rzip"
run /VERIFY
check "/VERIFY without a job is a usage error" [ "$RC" -eq 2 ]
run /RESTORE rzip /TO
check "/TO without a folder is a usage error" [ "$RC" -eq 2 ]
check "the restores were logged" contains "$WORK/stowline.log" "-- Restore rzip --"

# ---- a fatal error ----
# A file-size limit (with its signal ignored) makes copying a large file fail with EFBIG: an
# error no rule expects, so the run's trap reports it as fatal.
mkdir -p "$WORK/big" "$WORK/fatal-target"
head -c 300000 /dev/urandom >"$WORK/big/large.bin"
write_job fatal "$WORK/fatal-target/" "$WORK/big/" Compress=0
rm -f "$WORK/stowline.err"
(
    trap '' XFSZ
    ulimit -f 100
    run /RUN fatal copyjob /EXIT
    exit "$RC"
)
RC=$?
check "a fatal error exits 3" [ "$RC" -eq 3 ]
check "a fatal error leaves its report block" contains "$WORK/stowline.err" "Severity:    Fatal"
check "the report names the trap" contains "$WORK/stowline.err" "Module/Function: libCopy/CopyFiles()."
check "the fatal box goes to stderr" contains "$WORK/err" "Fatal Application Error: "
check "the program ends at the fatal error" [ "$(key_of copyjob RunCount)" = 2 ]
check "the run was not recorded" [ "$(key_of fatal RunCount)" = 0 ]
# The run unwinds: its temporary folder in the target is removed on the way out.
check "the fatal end left no temporary folder" [ -z "$(ls -A "$WORK/fatal-target")" ]

# ---- the headless agent and the single instance ----
LOCKED=no
# The agent keeps the lock file open only while it holds it; a moment later it still does (past
# the moment between opening the file and locking it).
start_agent && sleep 0.2 && agent_holds_lock && LOCKED=yes
check "the headless agent holds the instance lock" [ "$LOCKED" = yes ]
[ "$LOCKED" = yes ] || sed 's/^/       agent stderr: /' "$WORK/agent-err"
run /SILENT
check "a second instance exits 2" [ "$RC" -eq 2 ]
check "a second instance says so" contains "$WORK/err" "Verification Error: An instance of Stowline is already running."
run "/?"
check "a second instance is refused before anything else" [ "$RC" -eq 2 ]
check "the agent is still running" kill -0 "$AGENT_PID"
rm -f "$WORK/Stowline.txt"
stop_agent
check "SIGTERM ends the agent with status 0" [ "$AGENT_RC" -eq 0 ]
check "the orderly shut-down saved the preferences" [ -f "$WORK/Stowline.txt" ]
run "/?"
check "the lock is free after the agent ended" [ "$RC" -eq 0 ]

# ---- missed runs, the first tick and /STATUS ----
rm -f "$JOBS"/*.slj
mkdir -p "$WORK/missed-target" "$WORK/oneshot-target"
stamp() { LC_ALL=C date -d "@$1" "+%b-%d-%Y %H:%M"; }
# A daily job whose moment passed two minutes before the agents start, never run before.
write_job missed "$WORK/missed-target/" "$WORK/data/" Compress=0 "StartTime=$(date -d "@$(($(date +%s) - 120))" +%H:%M)"
# A one-shot job due 10 s after the agent starts, inside its first tick.
write_job oneshot "$WORK/oneshot-target/" "$WORK/data/" Compress=0
sed -i 's/^Frequency=1\r$/Frequency=4\r/' "$JOBS/oneshot.slj"
printf '%s\r\n' "0=$(date -d "@$(($(date +%s) + 10))" "+%Y-%m-%d %H:%M:%S")" >>"$JOBS/oneshot.slj"
rm -f "$WORK/Stowline.txt"
start_agent
for _ in $(seq 1 50); do
    [ "$(key_of oneshot RunCount)" = 1 ] && break
    sleep 1
done
check "a one-shot date inside the agent's first tick runs" [ "$(key_of oneshot RunCount)" = 1 ]
check "a successful run records its success" [ -n "$(key_of oneshot DateLastSuccess)" ]
check "with RunMissedBackups off the missed moment is not made up" [ "$(key_of missed RunCount)" = 0 ]
stop_agent
check "the agent's shut-down wrote RunMissedBackups=0 and StaleDays=7" \
    sh -c "grep -q '^RunMissedBackups=0' '$WORK/Stowline.txt' && grep -q '^StaleDays=7' '$WORK/Stowline.txt'"
sed -i 's/^RunMissedBackups=0/RunMissedBackups=-1/' "$WORK/Stowline.txt"
missed_ran() { [ "$(key_of missed RunCount)" = 1 ]; }
start_agent
wait_for missed_ran
check "with RunMissedBackups on the missed moment runs at start-up" [ "$(key_of missed RunCount)" = 1 ]
sleep 1
stop_agent
check "it runs once" [ "$(key_of missed RunCount)" = 1 ]
check "the catch-up is logged once" [ "$(grep -c "  Missed run of .* caught up" "$WORK/stowline.log")" -eq 1 ]
check "the one-shot job was not made up again" [ "$(key_of oneshot RunCount)" = 1 ]

EIGHT_DAYS_AGO=$(stamp $(($(date +%s) - 8 * 86400)))
write_job stalejob "$WORK/missed-target/" "$WORK/data/" Compress=0
sed -i "s/^DateLastRun=.*\r$/DateLastRun=$EIGHT_DAYS_AGO\r\nDateLastSuccess=$EIGHT_DAYS_AGO\r/" "$JOBS/stalejob.slj"
run /STATUS
check "/STATUS exits 1 with a stale job" [ "$RC" -eq 1 ]
check "/STATUS names the stale job" grep -q "^stalejob	stale	$EIGHT_DAYS_AGO	$EIGHT_DAYS_AGO	" "$WORK/out"
check "/STATUS names the caught-up job ok" grep -q "^missed	ok	" "$WORK/out"
check "/STATUS prints one line per job" [ "$(wc -l <"$WORK/out")" -eq 3 ]
rm -f "$JOBS/stalejob.slj"
run /STATUS
check "/STATUS exits 0 when no job is failed or stale" [ "$RC" -eq 0 ]
sed -i 's/^Suspended=0\r$/Suspended=-1\r/' "$JOBS/oneshot.slj"
write_job brokenjob "$WORK/missed-target/" "$WORK/no-such-source/" Compress=0
run /RUN brokenjob /STATUS
check "/RUN then /STATUS: the failed job makes it exit 1" [ "$RC" -eq 1 ]
check "/STATUS: an abandoned run records nothing, the job has never run" grep -q "^brokenjob	never run	" "$WORK/out"
check "/STATUS reports a suspended job" grep -q "^oneshot	suspended	" "$WORK/out"
rm -f "$JOBS/brokenjob.slj"
sed -i 's/^RunMissedBackups=-1/RunMissedBackups=0/' "$WORK/Stowline.txt"

# ---- the headless agent runs a due job by itself ----
rm -f "$JOBS"/*.slj
# The job's start time is the first whole minute after the agent's first tick (30 s), so the
# first tick computes it as still ahead and a later tick finds it due.
NOW=$(date +%s)
START_EPOCH=$(((NOW + 31 + 59) / 60 * 60))
if [ "$(date -d "@$START_EPOCH" +%Y%m%d)" = "$(date +%Y%m%d)" ]; then
    write_job scheduled "$WORK/scheduled-target/" "$WORK/data/" Compress=0 "StartTime=$(date -d "@$START_EPOCH" +%H:%M)"
    mkdir -p "$WORK/scheduled-target"
    start_agent
    for _ in $(seq 1 160); do
        [ "$(key_of scheduled RunCount)" = 1 ] && break
        sleep 1
    done
    check "the headless agent ran the due job on its own" [ "$(key_of scheduled RunCount)" = 1 ]
    check "the scheduled run copied the files" [ -n "$(find "$WORK/scheduled-target" -name a.txt -type f)" ]
    stop_agent INT
    check "SIGINT ends the agent with status 0" [ "$AGENT_RC" -eq 0 ]
else
    echo "skip - the scheduled run (the start time would fall after midnight)"
fi

cli_end
