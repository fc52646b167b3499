#!/usr/bin/env bash
# A laptop's power and network, through the real headless agent against UPower and
# NetworkManager mocked by python3-dbusmock on a private system bus (started and stopped here):
# on battery a scheduled run is postponed (one log line) and starts as soon as mains power
# returns, long before the next tick; a run by hand is never postponed; without UPower, or with
# the preference off, runs go as before. On a metered network (yes or guess-yes) the off-site
# copy of a scheduled run waits, and goes out when the network is no longer metered. A background
# run's threads are at nice 10 and the idle I/O class while it goes (/proc and ioprio_get), with
# no more deflate workers competing for the cores than half of them (the others SCHED_IDLE), and
# back to normal afterwards; /RUN is not lowered.
# Usage: power-tests.sh <path-to-stowline>
set -u

PY=/usr/bin/python3
if ! $PY -c 'import dbusmock' 2>/dev/null || ! command -v dbus-daemon >/dev/null; then
    echo "skipped: python3-dbusmock or dbus-daemon is not installed"
    exit 77
fi
if ! command -v rclone >/dev/null 2>&1; then
    echo "skipped: rclone is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin power "$@"
. "$(dirname "$0")/laptop-common.sh"
trap laptop_cleanup EXIT

private_system_bus || { echo "the private bus did not start" >&2; exit 1; }

# A daily moment two minutes ago, never run: missed.
missed() { sed -i "s/^StartTime=.*\r$/StartTime=$(date -d "@$(($(date +%s) - 120))" +%H:%M)\r/" "$JOBS/$1.slj"; }

mkdir -p "$WORK/data/sub"
echo "a letter" >"$WORK/data/letter.txt"
echo "notes" >"$WORK/data/sub/notes.txt"

# ---- on battery: postponed; mains power back: the runs start at once ----
start_mock upower org.freedesktop.UPower '{"OnBattery": true}' || check "the UPower mock started" false
prefs "PostponeOnBattery=-1" "RunMissedBackups=0"
write_zip_job Due "$WORK/t-due"
due_soon Due
start_agent
check "on battery the due run is postponed with its log line" wait_for postponed_more_than 0
POSTPONED=$(date +%s)
check "... and its job's header line" wait_for contains "$WORK/stowline.log" "-- Due "
# One more tick (30 s) passes: the run stays postponed, and the line is not repeated.
LEFT=$((POSTPONED + 33 - $(date +%s)))
[ "$LEFT" -gt 0 ] && sleep "$LEFT"
nothing_ran() { [ "$(runs_of Due)" = 0 ] && [ "$(zips_in "$WORK/t-due")" -eq 0 ]; }
check "over two ticks on battery nothing ran" nothing_ran
check "the line is written once per postponement" [ "$(postponed_lines)" -eq 1 ]
# Mains power returns right after a tick: the run starts from the signal, not the next tick.
CHANGED=$(date +%s)
on_battery false
check "back on mains power the postponed run starts" wait_for ran Due
check "... within seconds of the change, before the next tick" [ $(($(date +%s) - CHANGED)) -lt 20 ]
check "... and makes its archive" [ "$(zips_in "$WORK/t-due")" -eq 1 ]
check "... through the catch-up" contains "$WORK/stowline.log" "  Missed run of "
stop_agent
check "the agent ends with status 0" [ "$AGENT_RC" -eq 0 ]
check "no failure was reported" lacks "$WORK/agent-err" "has failed"

# With RunMissedBackups on, a missed moment found on battery is put off too, and caught up.
prefs "PostponeOnBattery=-1" "RunMissedBackups=-1"
on_battery true
write_zip_job Missed "$WORK/t-missed"
missed Missed
BEFORE=$(postponed_lines)
start_agent
check "a missed run on battery is postponed" wait_for postponed_more_than "$BEFORE"
sleep 2
check "... and does not run" [ "$(runs_of Missed)" = 0 ]
check "... one line" [ "$(postponed_lines)" -eq $((BEFORE + 1)) ]
on_battery false
check "... and runs when mains power returns" wait_for ran Missed
check "... caught up" contains "$WORK/stowline.log" "  Missed run of "
stop_agent

# By hand: never postponed.
on_battery true
BEFORE=$(postponed_lines)
run /RUN Due /EXIT
check "/RUN on battery runs" [ "$RC" -eq 0 ]
check "... and is recorded" ran Due 2
check "... without a postponement" [ "$(postponed_lines)" -eq "$BEFORE" ]

# The preference off: the behaviour of today, on battery or not; and nothing is written for it.
prefs "RunMissedBackups=0"
write_zip_job Plain "$WORK/t-plain"
due_soon Plain
start_agent
check "with the preference off a due run goes on battery" wait_for ran Plain
stop_agent
check "the preference off is not written" lacks "$WORK/Stowline.txt" "PostponeOnBattery"
check "... nor the others" sh -c "! grep -qE 'BackgroundRuns|PostponeOffsiteMetered' '$WORK/Stowline.txt'"
stop_mock

# No UPower on the bus: mains power.
prefs "PostponeOnBattery=-1" "RunMissedBackups=0"
write_zip_job NoUPower "$WORK/t-noupower"
due_soon NoUPower
BEFORE=$(postponed_lines)
start_agent
check "without UPower a due run goes" wait_for ran NoUPower
check "... unpostponed" [ "$(postponed_lines)" -eq "$BEFORE" ]
stop_agent
check "the preference set is kept by the agent's shut-down" contains "$WORK/Stowline.txt" "PostponeOnBattery=-1"

# ---- metered networks: the off-site copy waits, and goes when the network is not metered ----
metered_offsite_job
start_agent
check "on a metered network (guess-yes) the scheduled run goes" wait_for ran Away
check "... its off-site copy is postponed and logged" wait_for contains "$WORK/stowline.log" \
    "  Off-site copy to 'loc:$WORK/remote' postponed: the network is metered"
check "... nothing was sent" [ "$(remote_zips)" -eq 0 ]
check "... the backup waits for the remote" [ -n "$(key_of Away OffsitePending)" ]
check "... no failure is counted" [ -z "$(key_of Away OffsiteFailures)" ]
metered 1
sleep 2
check "still metered (yes): nothing is sent" [ "$(remote_zips)" -eq 0 ]
metered 4
sent() { [ "$(remote_zips)" -eq 1 ] && [ -z "$(key_of Away OffsitePending)" ]; }
check "no longer metered (guess-no): the waiting copy is sent" wait_for sent
check "... by the off-site retry" contains "$WORK/stowline.log" "-- Away (off-site retry) "
stop_agent
check "the local archive is the one sent" cmp -s "$(find "$WORK/t-away" -name '*.zip')" "$(find "$WORK/remote" -name '*.zip')"
metered 1
SENT_BEFORE=$(find "$WORK/remote" -name '*.zip')
sleep 1 # the remote's dated name is to the second
run /RUN Away /EXIT
check "/RUN on a metered network runs" [ "$RC" -eq 0 ]
# The remote keeps what the job keeps locally (one archive here): the new one replaced it.
sent_anew() { [ "$(remote_zips)" -eq 1 ] && [ "$(find "$WORK/remote" -name '*.zip')" != "$SENT_BEFORE" ]; }
check "... and sends its copy at once" sent_anew
stop_mock

# ---- background runs ----
# Enough text that the run lasts while its threads are looked at.
for i in $(seq 1 16); do head -c 6000000 /dev/urandom | base64 >"$WORK/data/big$i.txt"; done
HALF=$(($(nproc) / 2))
[ "$HALF" -ge 1 ] || HALF=1
prefs "BackgroundRuns=-1" "RunMissedBackups=0"
write_zip_job Quiet "$WORK/t-quiet"
due_soon Quiet
start_agent
SAMPLE=$(sample_threads "$AGENT_PID" "$WORK/t-quiet/.stowline-tmp-Quiet")
echo "       background run: $SAMPLE"
check "the background run was watched while it went" [ "${SAMPLE##*samples=}" -gt 2 ]
check "... its main thread at nice 10 and the idle I/O class" has "$SAMPLE" "main=10,3 "
NICED=${SAMPLE#niced=}
NICED=${NICED%% *}
check "... with a deflate worker competing beside it" [ "$NICED" -ge 2 ]
check "... and at most half the cores' worth of them" [ "$NICED" -le $((HALF + 1)) ]
IDLE=${SAMPLE#*idle=}
IDLE=${IDLE%% *}
# Two deflate workers per core: those beyond the share take only idle cores.
check "... the others on idle cores only" [ "$IDLE" -ge 1 ]
check "... every lowered thread in the idle I/O class" has "$SAMPLE" "allidle=yes"
check "... and it completed" wait_for ran Quiet
back() { [ "$(nice_of "$AGENT_PID")" = 0 ] && [ "$(ioclass_of "$AGENT_PID")" != 3 ]; }
check "after it the agent's thread is back at nice 0, out of the idle I/O class" wait_for back
check "... and no thread of the agent is left lowered" none_lowered "$AGENT_PID" 0
stop_agent
# By hand: full speed, whatever the preference.
timeout "$RUN_TIMEOUT" "$S" /RUN Quiet /EXIT >"$WORK/out" 2>"$WORK/err" &
RUN_PID=$!
SAMPLE=$(sample_threads "$RUN_PID" "$WORK/t-quiet/.stowline-tmp-Quiet")
wait "$RUN_PID"
echo "       run by hand: $SAMPLE"
check "/RUN is not lowered" has "$SAMPLE" "niced=0 idle=0 main=0,"
check "... and completes" ran Quiet 2

cli_end
