#!/usr/bin/env bash
# /STATUS, /VERIFY and /RESTORE beside a running headless agent, checked from outside as a
# monitoring script would call them: a failure in the same minute as a success reads "failed",
# the reading commands answer while the agent runs, and a backup the agent holds running makes a
# verify of the same job wait for its end, while a verify of another job does not wait. The last
# column is the off-site state ("off" for jobs without a remote, see offsite-retry-tests.sh).
# Usage: status-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin status "$@"
AGENT_PID=""
VERIFY_PID=""
READER_PID=""
cleanup() {
    [ -n "$WORK" ] && touch "$WORK/slow-release" "$WORK/reader-release" 2>/dev/null
    for pid in $READER_PID $VERIFY_PID $AGENT_PID; do
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
status_line() { # job name: its line of the last /STATUS
    grep "^$1	" "$WORK/out"
}

mkdir -p "$WORK/data/sub" "$WORK/empty"
echo "first file" >"$WORK/data/a.txt"
echo "second file" >"$WORK/data/sub/b.txt"
# Start times far from now, so that no run falls due while the agents run.
QUIET=$(date -d "@$(($(date +%s) + 6 * 3600))" +%H:%M)

# ---- a failure in the same minute as a success ----
write_job -m good "$WORK/good-target/" "$WORK/data/" "StartTime=$QUIET"
write_job -m flaky "$WORK/flaky-target/" "$WORK/data/" "StartTime=$QUIET"
run /RUN good flaky /EXIT
check "two jobs run" [ "$RC" -eq 0 ]
# An entry that selects nothing: the archive is not written and the run is recorded as failed.
sed -i "s|^File_0=.*\r$|File_0=$WORK/data/\r\nFile_1=$WORK/empty/*.doc\r|" "$JOBS/flaky.slj"
run /RUN flaky /EXIT
check "the failing run exits 1" [ "$RC" -eq 1 ]
check "the failure is recorded to the second" \
    sh -c "tr -d '\r' <'$JOBS/flaky.slj' | grep -Eq '^DateLastFailure=[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$'"
check "the older date keys keep their minute format" \
    sh -c "tr -d '\r' <'$JOBS/flaky.slj' | grep -Eq '^DateLastRun=[A-Z][a-z]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}$'"
if [ "$(key_of flaky DateLastRun)" = "$(key_of flaky DateLastSuccess)" ]; then
    echo "     (the success and the failure share the minute $(key_of flaky DateLastRun))"
fi
run /STATUS
check "/STATUS exits 1 for the failed job" [ "$RC" -eq 1 ]
check "/STATUS says the job failed, whatever minute it failed in" sh -c "grep -q '^flaky	failed	' '$WORK/out'"
check "/STATUS says the other job is ok" sh -c "grep -q '^good	ok	' '$WORK/out'"
check "/STATUS gives each job seven columns, the off-site state and the last run's figures last" \
    sh -c "awk -F '\t' 'NF != 7 { bad = 1 } END { exit bad }' '$WORK/out'"
check "/STATUS: a job without a remote is off off-site" sh -c "grep -q '^good	ok	.*	off	[^	]*\$' '$WORK/out'"
sed -i "/^File_1=/d" "$JOBS/flaky.slj"
run /RUN flaky /EXIT
check "the mended job runs" [ "$RC" -eq 0 ]
check "a success takes the failure time away" [ -z "$(key_of flaky DateLastFailure)" ]
run /STATUS
check "/STATUS exits 0 once every job is ok" [ "$RC" -eq 0 ]
check "/STATUS: the mended job is ok" sh -c "grep -q '^flaky	ok	' '$WORK/out'"

# ---- the reading commands beside a headless agent ----
start_agent
check "the headless agent runs and holds the instance lock" agent_holds_lock
run /STATUS
check "/STATUS answers while the agent runs" [ "$RC" -eq 0 ]
check "/STATUS prints every job while the agent runs" [ "$(wc -l <"$WORK/out")" -eq 2 ]
check "/STATUS is not refused" lacks "$WORK/err" "already running"
# A job whose last run failed, as another program left it: /STATUS says so beside the agent too.
write_job -m failed "$WORK/failed-target/" "$WORK/data/" "StartTime=$QUIET"
sed -i "s/^DateLastRun=.*\r$/DateLastRun=$(LC_ALL=C date "+%b-%d-%Y") 00:01\r\nDateLastSuccess=$(LC_ALL=C date "+%b-%d-%Y") 00:00\r/" \
    "$JOBS/failed.slj"
run /STATUS
check "/STATUS exits 1 beside the agent when a job failed" [ "$RC" -eq 1 ]
check "/STATUS names the failed job beside the agent" sh -c "grep -q '^failed	failed	' '$WORK/out'"
rm -f "$JOBS/failed.slj"
run /VERIFY good flaky
check "/VERIFY answers while the agent runs" [ "$RC" -eq 0 ]
check "/VERIFY names each job it verified" sh -c "grep -q '^Verified good' '$WORK/out' && grep -q '^Verified flaky' '$WORK/out'"
run /RESTORE good /TO "$WORK/restored"
check "/RESTORE answers while the agent runs" [ "$RC" -eq 0 ]
RESTORED=$(find "$WORK/restored" -name b.txt -type f | head -1)
check "/RESTORE wrote the files" cmp -s "$WORK/data/sub/b.txt" "${RESTORED:-/nonexistent}"
run /RUN good /EXIT
check "/RUN is still refused while the agent runs" [ "$RC" -eq 2 ]
check "the refused /RUN says why" contains "$WORK/err" "An instance of Stowline is already running."
run /RUN good /STATUS
check "/RUN with /STATUS is refused as a whole" [ "$RC" -eq 2 ]
check "the agent is still running" kill -0 "$AGENT_PID"
stop_agent
check "the agent ends with status 0" [ "$AGENT_RC" -eq 0 ]

# ---- a backup held running by the agent ----
# The slow job's pre-backup command holds the run until the test lets it go; with missed runs
# made up, the agent runs the job, never run before, as soon as it starts.
sed -i 's/^RunMissedBackups=0/RunMissedBackups=-1/' "$WORK/Stowline.txt"
check "the agent's preferences make up missed runs" grep -q '^RunMissedBackups=-1' "$WORK/Stowline.txt"
write_job -m slow "$WORK/slow-target/" "$WORK/data/" "StartTime=$(date -d "@$(($(date +%s) - 120))" +%H:%M)" \
    "PreBackupCommand=touch $WORK/slow-started; while [ ! -e $WORK/slow-release ]; do sleep 0.1; done"
start_agent
check "the agent holds the slow job's run" wait_for test -e "$WORK/slow-started"
"$S" /VERIFY slow >"$WORK/verify-out" 2>"$WORK/verify-err" &
VERIFY_PID=$!
check "a verify of the running job says it waits" \
    wait_for grep -qF "waiting for the running backup of slow to end..." "$WORK/verify-err"
check "the verify of the running job is still waiting" kill -0 "$VERIFY_PID"
run /VERIFY good
check "a verify of another job answers at once" [ "$RC" -eq 0 ]
check "a verify of another job does not wait" lacks "$WORK/err" "waiting"
run /STATUS
check "/STATUS answers while the agent runs a backup" sh -c "[ $RC -eq 0 ] && grep -q '^slow	never run	' '$WORK/out'"
check "the slow run is still held" [ ! -e "$WORK/slow-target/slow.zip" ]
check "the verify of the running job still waits" kill -0 "$VERIFY_PID"
touch "$WORK/slow-release"
wait "$VERIFY_PID"
VERIFY_RC=$?
VERIFY_PID=""
check "the waiting verify ends with status 0 once the run ended" [ "$VERIFY_RC" -eq 0 ]
check "the waiting verify read the backup the run wrote" grep -q '^Verified slow' "$WORK/verify-out"
check "the run it waited for was recorded" [ "$(key_of slow RunCount)" = 1 ]
check "the agent is still running after the held run" kill -0 "$AGENT_PID"
stop_agent
check "the agent ends with status 0 after the held run" [ "$AGENT_RC" -eq 0 ]

# ---- a run that falls due while its job is read waits until the read ends ----
# A reader in another process holds the job's lock shared, as /VERIFY and /RESTORE do, until
# it is killed: the system lets go of its lock then.
write_job -m readjob "$WORK/read-target/" "$WORK/data/" "StartTime=$(date -d "@$(($(date +%s) - 120))" +%H:%M)"
mkdir -p "$JOBS/.locks"
flock -s -o "$JOBS/.locks/readjob.slj" \
    -c "touch '$WORK/reader-holds'; while [ ! -e '$WORK/reader-release' ]; do sleep 0.1; done" >/dev/null 2>&1 &
READER_PID=$!
check "the reader holds the job's lock" wait_for test -e "$WORK/reader-holds"
start_agent
check "the agent's run of the read job says it waits" \
    wait_for grep -qF "Waiting for the restore or verify of 'readjob' to end" "$WORK/stowline.log"
run /STATUS
check "/STATUS answers while the run waits" sh -c "[ $RC -eq 0 ] && grep -q '^readjob	never run	' '$WORK/out'"
check "nothing is written while the job is read" [ ! -e "$WORK/read-target/readjob.zip" ]
kill -KILL "$READER_PID"
wait "$READER_PID" 2>/dev/null
READER_PID=""
touch "$WORK/reader-release" # ends the loop the killed reader started
ran_once() { [ "$(key_of readjob RunCount)" = 1 ]; }
check "the run goes on once the killed reader let go" wait_for ran_once
check "the run wrote its archive" sh -c "unzip -tq '$WORK/read-target/readjob.zip' >/dev/null"
stop_agent
check "the agent ends with status 0 after the wait" [ "$AGENT_RC" -eq 0 ]
sed -i 's/^RunMissedBackups=-1/RunMissedBackups=0/' "$WORK/Stowline.txt"

cli_end
