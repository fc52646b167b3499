#!/usr/bin/env bash
# A job whose target is a drive that comes and goes, through the real program and a real
# loop-mounted ext4 made here: a good run records the drive's file-system UUID; while the drive is
# away the job waits (no failure, no notice, /STATUS "waiting", exit 0) and the headless agent runs
# it within 30 s of the drive being mounted again; another file system at the same path is refused
# and nothing is written to it; "run on connect" runs at each connection when the last success is
# older than an hour; udisks2 (mocked on a private system bus) announcing the drive makes the agent
# mount it only when the preference says so; and a simulated week with the drive present one day
# in seven gives one backup that day and no failure notice.
# Usage: drive-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin drive "$@"
if [ "$(id -u)" -ne 0 ] || ! command -v mkfs.ext4 >/dev/null || ! command -v blkid >/dev/null; then
    echo "skipped: loop mounts need root, mkfs.ext4 and blkid"
    exit 0
fi
. "$(dirname "$0")/laptop-common.sh"
trap laptop_cleanup EXIT

mkdir -p "$WORK/data" "$MNT"
echo "work of the day" >"$WORK/data/a.txt"
UUID_A=$(make_drive a)
make_drive b >/dev/null

# ---- the drive is recorded, waited for, and another one at its path is refused ----
plug a
write_job laptop "$MNT/" "$WORK/data/" "StartTime=$QUIET" KeepCount=0
run /RUN laptop /EXIT
check "a run to the drive succeeds" [ "$RC" -eq 0 ]
check "the good run records the drive's file-system UUID" [ "$(key_of laptop TargetVolume)" = "$UUID_A" ]
check "the job file gains no drive option it was not given" [ -z "$(key_of laptop RunOnConnect)" ]
unplug
run /STATUS
check "/STATUS names the job waiting while its drive is away" [ "$(status_of laptop)" = waiting ]
check "a waiting job alone leaves /STATUS's exit status 0" [ "$RC" -eq 0 ]
before=$(state_of "$MNT")
run /RUN laptop /EXIT
check "a run by hand while the drive is away fails" [ "$RC" -eq 1 ]
check "it says the drive is not connected" contains "$WORK/stowline.log" "$UUID_A) is not connected"
check "nothing is written to the folder the drive is mounted on" [ "$(state_of "$MNT")" = "$before" ]
plug b
before=$(state_of "$MNT")
run /RUN laptop /EXIT
check "a run to another drive at the same path fails" [ "$RC" -eq 1 ]
check "it says the target is on another drive" contains "$WORK/stowline.log" "is on another drive"
check "nothing is written to the other drive" [ "$(state_of "$MNT")" = "$before" ]
check "the recorded drive is kept" [ "$(key_of laptop TargetVolume)" = "$UUID_A" ]
# A subfolder of the drive as the target: another drive holding that folder with contents is not
# the job's drive either.
mkdir -p "$MNT/sub" && echo "someone else's" >"$MNT/sub/keep.txt"
write_job sub "$MNT/sub/" "$WORK/data/" "StartTime=$QUIET" KeepCount=0
set_key sub TargetVolume "$UUID_A"
before=$(state_of "$MNT")
run /RUN sub /EXIT
check "a target folder with contents on another drive is refused" [ "$RC" -eq 1 ]
check "and left as it was" [ "$(state_of "$MNT")" = "$before" ]
rm -f "$JOBS/sub.slj"
unplug

# ---- the agent waits for the drive, then runs the missed moment within 30 s of its return ----
set_last_success laptop "$(minutes_ago 2880)"
set_key laptop StartTime "$(date -d '-10 minutes' +%H:%M)"
set_pref RunMissedBackups -1
runs=$(runs_of laptop)
start_agent
check "the agent notes the job waiting for its drive" \
    wait_for contains "$WORK/stowline.log" "Backup of 'laptop' waits for its drive"
check "the waiting job is not run" [ "$(runs_of laptop)" = "$runs" ]
run /STATUS
check "/STATUS beside the agent says waiting" [ "$(status_of laptop)" = waiting ]
check "and exits 0" [ "$RC" -eq 0 ]
plug a
check "the drive mounted again: the missed run starts within 30 s" runs_reach laptop $((runs + 1))
check "it is the catch-up of the missed moment" wait_for contains "$WORK/stowline.log" "caught up"
check "the backup is on the drive" sh -c "ls '$MNT'/laptop*.zip >/dev/null 2>&1"
run /STATUS
check "/STATUS says ok again" [ "$(status_of laptop)" = ok ]
stop_agent
check "no failure was reported while the drive was away" lacks "$WORK/agent-err" "failed"
check "the waiting was logged once" [ "$(grep -c "waits for its drive" "$WORK/stowline.log")" -eq 1 ]

# ---- run on connect: at each connection when the last success is older than an hour ----
unplug
set_key laptop StartTime "$QUIET"
set_key laptop RunOnConnect -1
set_last_success laptop "$(minutes_ago 120)"
run_on_connect_trial start_agent "the headless agent"
set_key laptop RunOnConnect 0
unplug

# ---- udisks2 announces the drive: mounted only with the preference ----
if [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import dbusmock' 2>/dev/null && command -v dbus-daemon >/dev/null; then
    private_system_bus
    start_udisks_mock
    check "the udisks2 mock is on the private system bus" wait_for udisks add 2>/dev/null
    set_last_success laptop "$(minutes_ago 2880)"
    set_key laptop StartTime "$(date -d '-10 minutes' +%H:%M)"
    runs=$(runs_of laptop)
    set_pref MountBackupDrive 0
    start_agent
    wait_for contains "$WORK/stowline.log" "Backup of 'laptop' waits for its drive"
    udisks announce
    sleep 3
    check "preference off: the announced drive is not mounted" sh -c "! mountpoint -q '$MNT'"
    check "and udisks2 was not asked to mount it" mount_not_asked
    check "the job still waits" [ "$(runs_of laptop)" = "$runs" ]
    stop_agent
    set_pref MountBackupDrive -1
    start_agent
    check "preference on: the agent asks udisks2 to mount the job's drive" announced_and_asked
    check "the drive is mounted and the missed run starts within 30 s" runs_reach laptop $((runs + 1))
    stop_agent
    check "no failure was reported" lacks "$WORK/agent-err" "failed"
    set_pref MountBackupDrive 0
    kill "$MOCK_PID" "$BUS_PID" 2>/dev/null
    wait "$MOCK_PID" "$BUS_PID" 2>/dev/null
    MOCK_PID=""
    BUS_PID=""
    unset DBUS_SYSTEM_BUS_ADDRESS
    unplug
else
    echo "skipped: the udisks2 checks need python3-dbusmock and dbus-daemon"
fi

# ---- a week with the drive present one day in seven ----
# (A sanitizer build checks that its runtime is loaded first; libfaketime preloaded before it is
# harmless here, so that check is turned off for these runs.)
FAKELIB=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
if [ -n "$FAKELIB" ]; then
    rm -f "$JOBS/laptop.slj"
    mkdir -p "$MNT"
    plug a
    mkdir -p "$MNT/week"
    write_job week "$MNT/week/" "$WORK/data/" StartTime=12:00 KeepCount=0
    at() { # "yyyy-mm-dd hh:mm:ss", then the command: run under a clock starting there
        local moment=$1
        shift
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 LD_PRELOAD=$FAKELIB FAKETIME="@$moment" FAKETIME_DONT_FAKE_MONOTONIC=1 "$@"
    }
    at "2027-03-01 12:01:00" "$S" /RUN week /EXIT >"$WORK/out" 2>"$WORK/err"
    check "the week starts with a good run on the drive" [ "$(runs_of week)" = 1 ]
    unplug
    : >"$WORK/week-err"
    alarms=0
    for day in 2 3 4 5 6 7 8; do
        [ "$day" = 5 ] && plug a
        waits=$(grep -c "Backup of 'week' waits for its drive" "$WORK/stowline.log")
        runs=$(runs_of week)
        # Not through the function: the agent itself must be the background process.
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 LD_PRELOAD=$FAKELIB FAKETIME="@2027-03-0$day 12:05:00" FAKETIME_DONT_FAKE_MONOTONIC=1 \
            "$S" /SILENT >"$WORK/agent-out" 2>"$WORK/agent-err" &
        AGENT_PID=$!
        wait_for sh -c "[ \"\$(grep -c \"Backup of 'week' waits for its drive\" '$WORK/stowline.log')\" -gt $waits ] \
            || [ \"\$(tr -d '\r' <'$JOBS/week.slj' | sed -n 's/^RunCount=//p')\" -gt $runs ]"
        stop_agent
        cat "$WORK/agent-err" >>"$WORK/week-err"
        at "2027-03-0$day 12:06:00" "$S" /STATUS >"$WORK/out" 2>"$WORK/err"
        [ $? -eq 0 ] || alarms=$((alarms + 1))
        [ "$day" = 5 ] && unplug
    done
    check "one backup on the day the drive was present" [ "$(runs_of week)" = 2 ]
    check "six days waiting, each logged once" \
        [ "$(grep -c "Backup of 'week' waits for its drive" "$WORK/stowline.log")" -eq 6 ]
    check "no failure notice in the week" lacks "$WORK/week-err" "failed"
    check "/STATUS exited 0 every day" [ "$alarms" -eq 0 ]
else
    echo "skipped: the simulated week needs libfaketime"
fi

cli_end
