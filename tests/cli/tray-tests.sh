#!/usr/bin/env bash
# The tray agent (the desktop process that stays in the tray and runs the scheduled jobs), through
# the real program on a display of its own (Xvfb, which has no notification area: the agent keeps
# its window minimised and shows a failure in a box that does not wait). With a real loop-mounted
# ext4 as the target: while the drive is away the job waits (no failure line, no box, /STATUS
# "waiting"), the drive mounted again starts the missed run within 30 s, and another file system
# at the path is refused with nothing written and the failure shown; a drive connected runs a
# "run on connect" job, and udisks2 (mocked) announcing it has it mounted only with the
# preference. With UPower mocked on a private system bus: on battery a scheduled run is postponed
# with its log line and runs when mains power returns; on a metered network (NetworkManager
# mocked) the off-site copy waits and goes when it is not metered. A background run lowers the
# agent's thread while it goes and leaves no thread lowered afterwards, also for an ordinary user,
# who cannot raise a nice value again (whose headless agent, making only background runs, keeps
# nice 10).
# Usage: tray-tests.sh <path-to-stowline>; exit 77 (skipped) when something it needs is missing.
set -u

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: loop mounts and the ordinary user's agent need root"
    exit 77
fi
for tool in mkfs.ext4 blkid Xvfb xwininfo dbus-daemon dbus-send setpriv; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: the tray agent trials need $tool"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import dbusmock' 2>/dev/null; then
    echo "skipped: python3-dbusmock is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin tray "$@"
. "$(dirname "$0")/laptop-common.sh"
trap laptop_cleanup EXIT

# The display: a private X server without a notification area. The agent's own runs of /RUN and
# /STATUS below go without it, as from a terminal.
Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 1024x768x24 3>"$WORK/display" 2>"$WORK/xvfb.log" &
LAPTOP_EXTRA_PIDS=$!
wait_for test -s "$WORK/display" || { echo "Xvfb did not start" >&2; exit 1; }
XDISPLAY=":$(head -n 1 "$WORK/display")"
windows() { DISPLAY=$XDISPLAY xwininfo -root -tree 2>/dev/null; }
agent_window() { windows | grep -q '("stowline" "stowline")'; }
# The tray agent's failure notice here: its box (and always a line on standard error).
notice_shown() { windows | grep -q '"Backup Error'; }
no_notice() { ! notice_shown && lacks "$WORK/agent-err" "has failed"; }

# The tray agent of the installation: started on the display, waited for until it holds the
# instance lock and shows its window; stop_agent (cli-common) ends it.
start_tray() {
    DISPLAY=$XDISPLAY "$S" /SILENT >"$WORK/agent-out" 2>"$WORK/agent-err" &
    AGENT_PID=$!
    wait_for agent_holds_lock && wait_for agent_window
}

mkdir -p "$WORK/data" "$MNT"
echo "work of the day" >"$WORK/data/a.txt"
UUID_A=$(make_drive a)
make_drive b >/dev/null

# ---- the drive away: waiting, no notice; back: the missed run within 30 s ----
plug a
write_zip_job laptop "$MNT"
run /RUN laptop /EXIT
check "a run to the drive succeeds" [ "$RC" -eq 0 ]
check "... and records the drive's file-system UUID" [ "$(key_of laptop TargetVolume)" = "$UUID_A" ]
unplug
set_last_success laptop "$(minutes_ago 2880)"
set_key laptop StartTime "$(date -d '-10 minutes' +%H:%M)"
prefs "RunMissedBackups=-1"
runs=$(runs_of laptop)
check "the tray agent starts on the display" start_tray
check "the tray agent notes the job waiting for its drive" \
    wait_for contains "$WORK/stowline.log" "Backup of 'laptop' waits for its drive"
check "the waiting job is not run" [ "$(runs_of laptop)" = "$runs" ]
check "... nor logged as a failed run" lacks "$WORK/stowline.log" "is not connected"
run /STATUS
check "/STATUS beside the tray agent says waiting" [ "$(status_of laptop)" = waiting ]
check "... and exits 0" [ "$RC" -eq 0 ]
check "no failure notice while the drive is away" no_notice
# Mounted right after the agent's first tick: the next one is over 20 s away, so a run within
# 15 s comes from the mount table's change.
PLUGGED=$(date +%s)
plug a
check "the drive mounted again: the missed run starts within 30 s" runs_reach laptop $((runs + 1))
check "... at once, not at the next tick" [ $(($(date +%s) - PLUGGED)) -lt 15 ]
check "... as the catch-up of the missed moment" wait_for contains "$WORK/stowline.log" "caught up"
check "... and the backup is on the drive" sh -c "ls '$MNT'/laptop*.zip >/dev/null 2>&1"
run /STATUS
check "/STATUS says ok again" [ "$(status_of laptop)" = ok ]
check "still no failure notice" no_notice
stop_agent
check "the tray agent ends with status 0" [ "$AGENT_RC" -eq 0 ]
check "the waiting was logged once" [ "$(count_in_log "waits for its drive")" -eq 1 ]
unplug

# ---- another file system at the path: refused, nothing written, the failure shown ----
plug b
before=$(state_of "$MNT")
set_last_success laptop "$(minutes_ago 2880)"
runs=$(runs_of laptop)
start_tray
check "a scheduled run to another drive at the path is refused" \
    wait_for contains "$WORK/stowline.log" "is on another drive"
check "... as a failed run" wait_for sh -c "[ \"\$(tr -d '\r' <'$JOBS/laptop.slj' | sed -n 's/^RunCount=//p')\" -gt $runs ]"
check "... with nothing written to the other drive" [ "$(state_of "$MNT")" = "$before" ]
check "... its failure shown in the agent's box" wait_for notice_shown
check "... and on standard error" contains "$WORK/agent-err" "Backup Job 'laptop' has failed"
check "the recorded drive is kept" [ "$(key_of laptop TargetVolume)" = "$UUID_A" ]
stop_agent
unplug

# ---- a drive attached: run on connect; udisks2 mounts it only when the preference says so ----
set_key laptop RunOnConnect -1
set_key laptop StartTime "$QUIET"
set_last_success laptop "$(minutes_ago 120)"
prefs "RunMissedBackups=0"
run_on_connect_trial start_tray "the tray agent"
unplug
set_key laptop RunOnConnect 0
private_system_bus || check "the private system bus started" false
start_udisks_mock
check "the udisks2 mock is on the private system bus" wait_for udisks add 2>/dev/null
set_last_success laptop "$(minutes_ago 2880)"
set_key laptop StartTime "$(date -d '-10 minutes' +%H:%M)"
runs=$(runs_of laptop)
prefs "RunMissedBackups=-1"
start_tray
wait_for contains "$WORK/stowline.log" "Backup of 'laptop' waits for its drive"
udisks announce
sleep 3
check "preference off: the tray agent leaves the announced drive unmounted" sh -c "! mountpoint -q '$MNT'"
check "... udisks2 is not asked to mount it" mount_not_asked
check "... and the job still waits" [ "$(runs_of laptop)" = "$runs" ]
stop_agent
prefs "RunMissedBackups=-1" "MountBackupDrive=-1"
start_tray
check "preference on: the tray agent asks udisks2 to mount the job's drive" announced_and_asked
check "... and the missed run starts within 30 s" runs_reach laptop $((runs + 1))
check "no failure notice" no_notice
stop_agent
stop_mock
unplug
rm -f "$JOBS/laptop.slj"

# ---- on battery: postponed; mains power back: the run starts at once ----
start_mock upower org.freedesktop.UPower '{"OnBattery": true}' || check "the UPower mock started" false
prefs "PostponeOnBattery=-1" "RunMissedBackups=0"
write_zip_job Due "$WORK/t-due"
due_soon Due
start_tray
check "on battery the tray agent postpones the due run with its log line" wait_for postponed_more_than 0
check "... under the job's header line" contains "$WORK/stowline.log" "-- Due "
sleep 2
nothing_ran() { [ "$(runs_of Due)" = 0 ] && [ "$(zips_in "$WORK/t-due")" -eq 0 ]; }
check "... and nothing runs" nothing_ran
CHANGED=$(date +%s)
on_battery false
check "back on mains power the postponed run starts" wait_for ran Due
check "... within seconds, not at a later tick" [ $(($(date +%s) - CHANGED)) -lt 20 ]
check "... through the catch-up" contains "$WORK/stowline.log" "  Missed run of "
check "... and makes its archive" [ "$(zips_in "$WORK/t-due")" -eq 1 ]
check "the postponement was logged once" [ "$(postponed_lines)" -eq 1 ]
check "no failure notice for the postponement" no_notice
stop_agent
check "the tray agent that followed UPower ends with status 0" [ "$AGENT_RC" -eq 0 ]
stop_mock

# ---- a metered network: the off-site copy waits, and goes as soon as it is not metered ----
if command -v rclone >/dev/null; then
    metered_offsite_job
    start_tray
    check "on a metered network the tray agent's scheduled run goes" wait_for ran Away
    check "... its off-site copy postponed and logged" wait_for contains "$WORK/stowline.log" \
        "  Off-site copy to 'loc:$WORK/remote' postponed: the network is metered"
    check "... nothing sent" [ "$(remote_zips)" -eq 0 ]
    CHANGED=$(date +%s)
    metered 4
    sent() { [ "$(remote_zips)" -eq 1 ] && [ -z "$(key_of Away OffsitePending)" ]; }
    check "no longer metered: the waiting copy is sent" wait_for sent
    check "... within seconds, not at a later tick" [ $(($(date +%s) - CHANGED)) -lt 20 ]
    check "no failure notice for the waiting copy" no_notice
    stop_agent
    stop_mock
    rm -f "$JOBS/Away.slj"
else
    echo "skipped: the metered network checks need rclone"
fi

# ---- a background run: lowered while it goes, nothing left lowered after it ----
for i in $(seq 1 8); do head -c 6000000 /dev/urandom | base64 >"$WORK/data/big$i.txt"; done
prefs "BackgroundRuns=-1" "RunMissedBackups=0"
write_zip_job Quiet "$WORK/t-quiet"
due_soon Quiet
start_tray
SAMPLE=$(sample_threads "$AGENT_PID" "$WORK/t-quiet/.stowline-tmp-Quiet")
echo "       background run in the tray agent: $SAMPLE"
check "the tray agent's background run was watched while it went" [ "${SAMPLE##*samples=}" -gt 2 ]
check "... its thread at nice 10 and the idle I/O class" has "$SAMPLE" "main=10,3 "
check "... every lowered thread in the idle I/O class" has "$SAMPLE" "allidle=yes"
check "... and it completed" wait_for ran Quiet
back() { [ "$(nice_of "$AGENT_PID")" = 0 ] && [ "$(ioclass_of "$AGENT_PID")" != 3 ]; }
check "after it the agent's thread is back at nice 0, out of the idle I/O class" wait_for back
check "... and no thread of the agent is left lowered" none_lowered "$AGENT_PID" 0
stop_agent

# An ordinary user cannot take nice 10 back: the tray agent, which also runs backups by hand,
# then leaves its thread's nice alone and lowers only its I/O class and its workers.
USER_ID=$(id -u nobody)
GROUP_ID=$(id -g nobody)
HOME_OF_USER="$WORK/user"
mkdir -p "$HOME_OF_USER/BackupJobs" "$HOME_OF_USER/run" "$HOME_OF_USER/home" "$WORK/t-user"
cp "$S" "$HOME_OF_USER/stowline"
printf '%s\r\n' "[Preferences]" "LoggingMode=0" "BackgroundRuns=-1" "RunMissedBackups=0" >"$HOME_OF_USER/Stowline.txt"
sed "s|^TargetDir=.*\r$|TargetDir=$WORK/t-user/\r|" "$JOBS/Quiet.slj" >"$HOME_OF_USER/BackupJobs/Quiet.slj"
sed -i '/^RunCount=/s/=.*\r$/=0\r/' "$HOME_OF_USER/BackupJobs/Quiet.slj"
# The user's job due again 5 s from now (its one-shot moment replaced).
user_due_soon() {
    sed -i '/^[0-9]*=[0-9-]* [0-9:]*\r$/d' "$HOME_OF_USER/BackupJobs/Quiet.slj"
    printf '%s\r\n' "0=$(date -d "@$(($(date +%s) + 5))" "+%Y-%m-%d %H:%M:%S")" >>"$HOME_OF_USER/BackupJobs/Quiet.slj"
    chown "$USER_ID:$GROUP_ID" "$HOME_OF_USER/BackupJobs/Quiet.slj"
}
user_ran() { [ "$(tr -d '\r' <"$HOME_OF_USER/BackupJobs/Quiet.slj" | sed -n 's/^RunCount=//p')" = "$1" ]; }
# The user's agent (on the display given, or headless without one).
start_user_agent() {
    env ${1:+DISPLAY=$1} XDG_RUNTIME_DIR="$HOME_OF_USER/run" HOME="$HOME_OF_USER/home" \
        setpriv --reuid="$USER_ID" --regid="$GROUP_ID" --clear-groups "$HOME_OF_USER/stowline" /SILENT \
        >"$WORK/agent-out" 2>"$WORK/agent-err" &
    AGENT_PID=$!
}
user_due_soon
chmod 700 "$HOME_OF_USER/run"
chmod 755 "$WORK"
chown -R "$USER_ID:$GROUP_ID" "$HOME_OF_USER" "$WORK/t-user"
start_user_agent "$XDISPLAY"
SAMPLE=$(sample_threads "$AGENT_PID" "$WORK/t-user/.stowline-tmp-Quiet")
echo "       background run in an ordinary user's tray agent: $SAMPLE"
check "an ordinary user's background run was watched while it went" [ "${SAMPLE##*samples=}" -gt 2 ]
check "... its thread kept at nice 0 in the idle I/O class" has "$SAMPLE" "main=0,3 "
NICED=${SAMPLE#niced=}
NICED=${NICED%% *}
check "... its deflate workers lowered beside it" [ "$NICED" -ge 1 ]
check "... and it completed" wait_for user_ran 1
check "after it no thread of the agent is lowered" wait_for none_lowered "$AGENT_PID" 0
stop_agent
check "the ordinary user's tray agent ends with status 0" [ "$AGENT_RC" -eq 0 ]

# The headless agent runs no backup by hand and reads the preferences once, at its start: every
# run it makes is a background run. It takes nice 10 even where it cannot go back; its I/O class
# does go back after each run.
user_due_soon
start_user_agent ""
SAMPLE=$(sample_threads "$AGENT_PID" "$WORK/t-user/.stowline-tmp-Quiet")
echo "       background run in an ordinary user's headless agent: $SAMPLE"
check "an ordinary user's headless agent runs at nice 10 in the idle I/O class" has "$SAMPLE" "main=10,3 "
check "... and completes" wait_for user_ran 2
io_back() { [ "$(ioclass_of "$AGENT_PID")" != 3 ]; }
check "... its thread's I/O class goes back after the run" wait_for io_back
stop_agent
check "the ordinary user's headless agent ends with status 0" [ "$AGENT_RC" -eq 0 ]

cli_end
