#!/usr/bin/env bash
# The off-site state of a job and the agents' catch-up, through the real program against a real
# SFTP server on the loopback address (rclone serve sftp, reached through a test rclone config):
# the server killed during /RUN leaves the local backup whole, /RUN exits 1 and /STATUS says
# "pending"; the headless agent, started with the server back, sends the waiting archive at
# start-up without a new local backup, and /STATUS says "ok". Three failed attempts in a row say
# "failing" and the agent's notice says the backup was made locally; a job without a remote says
# "off"; an incremental run without changes leaves the state as it was; a job given a remote
# after local successes is pending; an off-site copy behind for longer than StaleDays makes the
# job stale (exit 1 and the agent's daily notice).
# Usage: offsite-retry-tests.sh <path-to-stowline>
set -u

if ! command -v rclone >/dev/null 2>&1; then
    echo "skipped: rclone is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin offsite-retry "$@"

. "$(dirname "$0")/offsite-common.sh"
AGENT_PID=
trap 'stop_server; [ -n "$AGENT_PID" ] && kill -KILL "$AGENT_PID" 2>/dev/null; rm -rf "$WORK"' EXIT

nas_section >"$WORK/rclone.conf"
export RCLONE_CONFIG="$WORK/rclone.conf"
start_server || exit 1

# Start times far from now, so that no run falls due while an agent runs.
QUIET=$(date -d "@$(($(date +%s) + 6 * 3600))" +%H:%M)
dated() { # the job's dated archives on the remote, oldest first
    find "$REMOTE_ROOT/backups/$1" -maxdepth 1 -type f -regextype posix-extended \
        -regex ".*/$1_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}\.zip" -printf '%f\n' 2>/dev/null | sort
}
newest_remote() { echo "$REMOTE_ROOT/backups/$1/$(dated "$1" | tail -n 1)"; }
no_partial() { [ -z "$(find "$REMOTE_ROOT" -name '*.partial')" ]; }
# A fresh /STATUS (its status left in RC) gives the job this state (column 2) or off-site state
# (column 6; the last run's figures follow in column 7).
column_is() { # column, job, value
    run /STATUS
    [ "$(grep "^$2	" "$WORK/out" | cut -f "$1")" = "$3" ] && [ "$(grep "^$2	" "$WORK/out" | cut -f 8-)" = "" ]
}
state_is() { column_is 2 "$@"; }
is_offsite() { column_is 6 "$@"; }
local_archives() { # name, size and checksum of every archive in a target
    (cd "$1" && find . -maxdepth 1 -name '*.zip' -printf '%f %s\n' | sort && cat ./*.zip | md5sum)
}
retries_logged() { grep -ac -- "-- $1 (off-site retry) " "$WORK/stowline.log"; }
retried_since() { [ "$(retries_logged "$1")" -gt "$2" ]; }
# Starts the agent and waits for its start-up retry of the job to be recorded (a command that
# succeeds once it is), then for anything further asked of its standard error; stops it.
agent_retry() { # job, test command...; AGENT_SAYS: text to wait for on the agent's stderr
    local job=$1 before
    shift
    before=$(retries_logged "$job")
    start_agent
    check "the agent retries '$job' at start-up" wait_for retried_since "$job" "$before"
    check "the attempt of '$job' is recorded" wait_for "$@"
    [ -n "${AGENT_SAYS:-}" ] && check "the agent says: $AGENT_SAYS" wait_for contains "$WORK/agent-err" "$AGENT_SAYS"
    stop_agent
    check "the agent ends with status 0" [ "$AGENT_RC" -eq 0 ]
}
failures_are() { [ "$(key_of "$1" OffsiteFailures)" = "$2" ]; }
nothing_waits() { [ -z "$(key_of "$1" OffsitePending)" ] && [ -z "$(key_of "$1" OffsiteFailures)" ]; }
has_sent() { [ -n "$(key_of "$1" OffsiteLastSuccess)" ]; }

SRC="$WORK/data"
SMALL="$WORK/small" # the incremental job's own files: archive flags are kept per file
mkdir -p "$SRC" "$SMALL"
head -c 3000000 /dev/urandom >"$SRC/noise.bin"
echo "small" >"$SMALL/a.txt"
# An incremental zip run takes the files changed since the day of the last run: files of an
# earlier day are no change.
age_small() { touch -d '3 days ago' "$SMALL"/*; }
age_small
edit_source() { printf 'change %s\n' "$2" >>"$1/notes.txt"; }

# ---- a job without a remote is off; one whose copy went out is ok ----
write_job -m plain "$WORK/tplain/" "$SRC/" "StartTime=$QUIET" KeepCount=2 Incremental=0
run /RUN plain /EXIT
check "a job without a remote runs" [ "$RC" -eq 0 ]
check "/STATUS: a job without a remote is off" is_offsite plain off
check "and its file gets no off-site key" lacks "$JOBS/plain.slj" "Offsite"
write_job -m docs "$WORK/tdocs/" "$SRC/" "StartTime=$QUIET" KeepCount=2 Incremental=0 "OffsiteRemote=nas:backups"
run /RUN docs /EXIT
check "the first run sends its archive" [ "$RC" -eq 0 ]
check "/STATUS: the job whose archive went out is ok" is_offsite docs ok
check "an ok job's file holds no waiting key" nothing_waits docs

# ---- the server killed during /RUN: local backup whole, pending ----
edit_source "$SRC" 1
: >"$WORK/stowline.log"
uploading() { [ -n "$(find "$REMOTE_ROOT/backups/docs" -name '*.partial' -size +1k 2>/dev/null)" ]; }
kill_server_during_run docs RCLONE_BWLIMIT=400k
check "killed server: /RUN exits 1" [ "$RC" -eq 1 ]
check "killed server: the failure is logged" grep -qa "  Off-site copy to 'nas:backups' failed: " "$WORK/stowline.log"
check "killed server: the local archive is whole" unzip -tqq "$WORK/tdocs/docs.zip"
check "killed server: the local run is a success" state_is docs ok
check "/STATUS: pending after the killed upload" is_offsite docs pending
check "/STATUS: a pending copy alone is no alarm" [ "$RC" -eq 0 ]
check "the waiting backup is in the job file" [ -n "$(key_of docs OffsitePending)" ]
check "one failure in a row is counted" failures_are docs 1
check "no final name holds the partial upload" [ "$(dated docs | wc -l)" -eq 1 ]
RUNS_BEFORE=$(key_of docs RunCount)
ARCHIVES_BEFORE=$(local_archives "$WORK/tdocs")
LAST_RUN_BEFORE=$(key_of docs DateLastRun)

# ---- the agent, with the server back, sends it at start-up ----
start_server
agent_retry docs nothing_waits docs
check "the remote now holds the local archive, byte for byte" cmp "$WORK/tdocs/docs.zip" "$(newest_remote docs)"
check "the remote holds both runs' archives" [ "$(dated docs | wc -l)" -eq 2 ]
check "the interrupted upload's temporary name is gone" no_partial
check "/STATUS: ok after the retry" is_offsite docs ok
check "the retry ran no backup (run count unchanged)" [ "$(key_of docs RunCount)" = "$RUNS_BEFORE" ]
check "the retry recorded no run" [ "$(key_of docs DateLastRun)" = "$LAST_RUN_BEFORE" ]
check "the retry made no new local archive" [ "$(local_archives "$WORK/tdocs")" = "$ARCHIVES_BEFORE" ]
check "the retry's success is recorded" [ -n "$(key_of docs OffsiteLastSuccess)" ]
check "a successful retry is no notice" lacks "$WORK/agent-err" "off-site copy failed"
check "the retry checked the upload" contains "$WORK/stowline.log" "  Off-site copy checked by MD5"

# ---- an incremental job: a run without changes leaves ok as ok and pending as pending ----
write_job -m inc "$WORK/tinc/" "$SMALL/" "StartTime=$QUIET" KeepCount=2 Incremental=-1 "OffsiteRemote=nas:backups"
run /RUN inc /EXIT
check "the incremental job's first run sends" [ "$RC" -eq 0 ]
check "/STATUS: the incremental job is ok" is_offsite inc ok
SENT=$(dated inc | wc -l)
run /RUN inc /EXIT
check "a run without changes succeeds" [ "$RC" -eq 0 ]
check "a run without changes sends nothing" [ "$(dated inc | wc -l)" -eq "$SENT" ]
check "/STATUS: a run without changes leaves ok" is_offsite inc ok
stop_server
edit_source "$SMALL" 2
run /RUN inc /EXIT
age_small
check "the incremental job's change with the server down: /RUN exits 1" [ "$RC" -eq 1 ]
check "/STATUS: the incremental job is pending" is_offsite inc pending
run /RUN inc /EXIT
check "a run without changes while pending succeeds (nothing to send)" [ "$RC" -eq 0 ]
check "/STATUS: a run without changes leaves pending" is_offsite inc pending
check "and counts no attempt" failures_are inc 1
RUNS_BEFORE=$(key_of inc RunCount)

# ---- three failed attempts in a row: failing, with the agent's notice ----
AGENT_SAYS="Stowline: Backup Job 'inc' backed up locally; off-site copy failed: " agent_retry inc failures_are inc 2
check "/STATUS: two failures in a row are still pending" is_offsite inc pending
check "the notice names the log" contains "$WORK/agent-err" "See transaction log for details: '$WORK/stowline.log'"
check "the notice is no local failure" lacks "$WORK/agent-err" "'inc' has failed"
agent_retry inc failures_are inc 3
check "/STATUS: three failures in a row are failing" is_offsite inc failing
check "/STATUS: the local backup is still ok" state_is inc ok
check "the retries ran no backup" [ "$(key_of inc RunCount)" = "$RUNS_BEFORE" ]
start_server
agent_retry inc nothing_waits inc
check "/STATUS: ok once a retry went through" is_offsite inc ok
check "the remote holds the newest local archive" cmp "$WORK/tinc/inc.zip" "$(newest_remote inc)"

# ---- a remote given to a job after local successes: its newest backup waits ----
sed -i 's/^\[Source\]\r$/OffsiteRemote=nas:backups\r\n[Source]\r/' "$JOBS/plain.slj"
check "/STATUS: a job given a remote after a success is pending" is_offsite plain pending
agent_retry plain has_sent plain
check "nothing waits for the remote any more" nothing_waits plain
check "its newest archive went out" cmp "$WORK/tplain/plain.zip" "$(newest_remote plain)"
check "/STATUS: ok after the start-up retry" is_offsite plain ok

# ---- stale by off-site age ----
# A backup waiting for eight days (the default StaleDays is 7), on a remote that does not exist.
write_job -m far "$WORK/tfar/" "$SRC/" "StartTime=$QUIET" KeepCount=2 Incremental=0 "OffsiteRemote=nowhere:backups"
run /RUN far /EXIT
check "a run to a remote that does not exist exits 1" [ "$RC" -eq 1 ]
EIGHT_DAYS_AGO=$(date -d '8 days ago' '+%m/%d/%Y %H:%M:%S')
sed -i "s|^OffsitePending=.*\r$|OffsitePending=$EIGHT_DAYS_AGO\r|" "$JOBS/far.slj"
check "/STATUS: a copy behind for longer than StaleDays is stale" state_is far stale
check "/STATUS exits 1 for it" [ "$RC" -eq 1 ]
check "/STATUS: its off-site state is still pending" is_offsite far pending
AGENT_SAYS="'far' (off-site copy behind since" agent_retry far failures_are far 2
check "it is still stale after the failed retry" state_is far stale
rm -f "$JOBS/far.slj"
run /STATUS
check "/STATUS exits 0 again without it" [ "$RC" -eq 0 ]

cli_end
