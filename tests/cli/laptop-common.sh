# What the scripts about a laptop's life share, sourced after cli-common.sh and cli_begin: a
# private system bus with python3-dbusmock's services on it, loop-mounted drives that come and
# go, zip jobs due soon, and the priorities of a process's threads (nice, I/O class, policy).
#
#   . "$(dirname "$0")/laptop-common.sh"
#   trap laptop_cleanup EXIT    # kills what was started here, unmounts MNT, removes WORK
#
# AGENT_PID, MOCK_PID, BUS_PID and MNT are the caller's (empty until used).

PY=/usr/bin/python3
AGENT_PID=${AGENT_PID:-}
MOCK_PID=${MOCK_PID:-}
BUS_PID=${BUS_PID:-}
MNT=${MNT:-$WORK/mnt}
QUIET=$(date -d "@$(($(date +%s) + 6 * 3600))" +%H:%M) # a daily moment far from now

unplug() { while mountpoint -q "$MNT"; do umount "$MNT" || return 1; done; }
plug() { mount -o loop "$WORK/$1.img" "$MNT"; }
# A 16 MiB ext4 image of that name in WORK; prints its file-system UUID.
make_drive() {
    truncate -s 16M "$WORK/$1.img"
    mkfs.ext4 -q -F "$WORK/$1.img"
    blkid -o value -s UUID "$WORK/$1.img"
}
laptop_cleanup() {
    [ -n "$AGENT_PID" ] && kill -KILL "$AGENT_PID" 2>/dev/null
    [ -n "$MOCK_PID" ] && kill "$MOCK_PID" 2>/dev/null
    [ -n "$BUS_PID" ] && kill "$BUS_PID" 2>/dev/null
    [ -n "${LAPTOP_EXTRA_PIDS:-}" ] && kill $LAPTOP_EXTRA_PIDS 2>/dev/null
    # Never remove the folder while a drive is mounted in it.
    unplug && rm -rf "$WORK"
}

# The private system bus: a bus daemon of its own, which the program finds through
# DBUS_SYSTEM_BUS_ADDRESS; no session bus.
private_system_bus() {
    dbus-daemon --session --nofork --print-address=3 --address="unix:path=$WORK/system_bus" \
        3>"$WORK/bus-address" 2>"$WORK/bus.log" &
    BUS_PID=$!
    wait_for test -s "$WORK/bus-address" || return 1
    export DBUS_SYSTEM_BUS_ADDRESS
    DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$WORK/bus-address")
    unset DBUS_SESSION_BUS_ADDRESS
}
bus_has() { dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    "string:$1" 2>/dev/null | grep -q 'boolean true'; }
# Starts a dbusmock template (name, its D-Bus name, parameters as JSON) and waits for its name.
start_mock() {
    $PY -m dbusmock --system -t "$1" -p "$3" >"$WORK/mock-$1.log" 2>&1 &
    MOCK_PID=$!
    wait_for bus_has "$2"
}
stop_mock() {
    kill "$MOCK_PID" 2>/dev/null
    wait "$MOCK_PID" 2>/dev/null
    MOCK_PID=
}
set_prop() { # service, path, interface, property, dbus-send variant (boolean:true, uint32:1)
    dbus-send --system --print-reply --dest="$1" "$2" org.freedesktop.DBus.Properties.Set "string:$3" "string:$4" \
        "variant:$5" >/dev/null
}
on_battery() { set_prop org.freedesktop.UPower /org/freedesktop/UPower org.freedesktop.UPower OnBattery "boolean:$1"; }
metered() { set_prop org.freedesktop.NetworkManager /org/freedesktop/NetworkManager org.freedesktop.NetworkManager Metered "uint32:$1"; }

# udisks2 mocked on the private system bus: an object manager whose block device mounts drive
# "a" at MNT when asked (each Mount call is in WORK/mock.log).
start_udisks_mock() {
    $PY -m dbusmock --system -l "$WORK/mock.log" org.freedesktop.UDisks2 /org/freedesktop/UDisks2 \
        org.freedesktop.DBus.ObjectManager >/dev/null 2>&1 &
    MOCK_PID=$!
}
udisks() { # add (the block device, once) | announce (the drive is attached: InterfacesAdded)
    $PY - "$1" "$DBUS_SYSTEM_BUS_ADDRESS" "$WORK/a.img" "$MNT" "$UUID_A" <<'PY'
import sys, dbus
what, address, image, mnt, uuid = sys.argv[1:]
bus = dbus.bus.BusConnection(address)
mock = dbus.Interface(bus.get_object("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2"), "org.freedesktop.DBus.Mock")
path = "/org/freedesktop/UDisks2/block_devices/loop42"
if what == "add":
    code = "import subprocess; subprocess.run(['mount', '-o', 'loop', %r, %r], check=True); ret = %r" % (image, mnt, mnt)
    mock.AddObject(path, "org.freedesktop.UDisks2.Filesystem", {}, [("Mount", "a{sv}", "s", code)])
else:
    interfaces = {"org.freedesktop.UDisks2.Block": dbus.Dictionary({"IdUUID": uuid}, signature="sv"),
                  "org.freedesktop.UDisks2.Filesystem": dbus.Dictionary({}, signature="sv")}
    mock.EmitSignal("org.freedesktop.DBus.ObjectManager", "InterfacesAdded", "oa{sa{sv}}",
                    [dbus.ObjectPath(path), dbus.Dictionary(interfaces, signature="sa{sv}")])
PY
}
mount_asked() { grep -q '^[0-9.]* Mount ' "$WORK/mock.log"; }
mount_not_asked() { ! mount_asked; }
# The drive announced until the agent asks for it to be mounted (up to 30 s): an agent just
# started may not be listening yet, and a second announcement of the same drive is harmless.
announced_and_asked() {
    local i
    for i in $(seq 1 10); do
        udisks announce
        WAIT_TICKS=30 wait_for mount_asked && return 0
    done
    return 1
}

prefs() { printf '%s\r\n' "[Preferences]" "LoggingMode=0" "$@" >"$WORK/Stowline.txt"; }
# A daily zip job of WORK/data at QUIET: name, target, further Config lines.
write_zip_job() {
    local name=$1 target=$2
    shift 2
    write_job -m "$name" "$target/" "$WORK/data/" "StartTime=$QUIET" "$@"
}
# A one-shot moment 5 s from now, inside the agent's first tick: due when it starts.
due_soon() {
    sed -i 's/^Frequency=1\r$/Frequency=4\r/' "$JOBS/$1.slj"
    printf '%s\r\n' "0=$(date -d "@$(($(date +%s) + 5))" "+%Y-%m-%d %H:%M:%S")" >>"$JOBS/$1.slj"
}
runs_of() { key_of "$1" RunCount; }
set_key() { # job, key, value: replaces or adds the key in [Config]
    if grep -q "^$2=" "$JOBS/$1.slj"; then
        sed -i "s|^$2=.*\r$|$2=$3\r|" "$JOBS/$1.slj"
    else
        sed -i "s|^\[Config\]\r$|[Config]\r\n$2=$3\r|" "$JOBS/$1.slj"
    fi
}
# The job's last run and success at one moment ("mmm-dd-yyyy hh:mm"), so that it has not failed.
set_last_success() {
    set_key "$1" DateLastRun "$2"
    set_key "$1" DateLastSuccess "$2"
    sed -i '/^DateLastFailure=/d' "$JOBS/$1.slj"
}
minutes_ago() { LC_ALL=C date -d "-$1 minutes" '+%b-%d-%Y %H:%M'; }
status_of() { grep "^$1	" "$WORK/out" | cut -f2; } # the job's state in the last /STATUS
set_pref() { # key, value in the preferences file
    [ -f "$WORK/Stowline.txt" ] || printf '[Preferences]\r\nLoggingMode=0\r\n' >"$WORK/Stowline.txt"
    sed -i "/^$1=/d" "$WORK/Stowline.txt"
    sed -i "s|^\[Preferences\]\r\?$|[Preferences]\r\n$1=$2\r|" "$WORK/Stowline.txt"
}
# Waits at most 30 s for the job's run count to reach n.
runs_reach() {
    local i
    for i in $(seq 1 300); do
        [ "$(runs_of "$1")" = "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
ran() { [ "$(runs_of "$1")" = "${2:-1}" ]; }
count_in_log() { grep -ac -- "$1" "$WORK/stowline.log" 2>/dev/null || true; }
postponed_lines() { count_in_log "  Postponed: on battery"; }
postponed_more_than() { [ "$(postponed_lines)" -gt "$1" ]; }
zips_in() { find "$1" -maxdepth 1 -name '*.zip' | wc -l; }
has() { case "$1" in *"$2"*) return 0 ;; esac; return 1; } # text, part

# The fields after the name in parentheses: the nice value is the 17th, the policy the 39th.
nice_of() { sed 's/.*) //' "/proc/$1/task/${2:-$1}/stat" | cut -d' ' -f17; } # pid, thread
ioclass_of() { $PY -c "import ctypes,sys; print(ctypes.CDLL(None).syscall(252, 1, int(sys.argv[1])) >> 13)" "$1"; }
# No thread of the process is lowered: none at a nice value other than its main thread's first
# (given), none in the idle I/O class, none SCHED_IDLE. Prints what it found otherwise.
none_lowered() { # pid, nice expected
    local t bad=""
    for t in /proc/"$1"/task/*; do
        t=${t##*/}
        [ "$(nice_of "$1" "$t")" = "$2" ] || bad="$bad $t:nice=$(nice_of "$1" "$t")"
        [ "$(sed 's/.*) //' "/proc/$1/task/$t/stat" | cut -d' ' -f39)" != 5 ] || bad="$bad $t:SCHED_IDLE"
        [ "$(ioclass_of "$t")" != 3 ] || bad="$bad $t:idle-io"
    done
    [ -z "$bad" ] || echo "       lowered threads:$bad"
    [ -z "$bad" ]
}

# Samples every thread of a process while its run's temporary folder exists: the most threads at
# nice 10 that compete for the cores at once, the most that only take idle cores (SCHED_IDLE),
# whether the main thread was at 10 and in the idle I/O class, and whether every lowered thread
# was in the idle I/O class too (ioprio_get through ctypes).
sample_threads() { # pid, temporary folder; prints "niced=N idle=M main=nice,class allidle=yes|no samples=K"
    $PY - "$1" "$2" <<'PY'
import ctypes, os, sys, time
pid, tmp = int(sys.argv[1]), sys.argv[2]
libc = ctypes.CDLL(None, use_errno=True)
SYS_ioprio_get = 252  # x86_64
def stat(tid):  # the fields after the name: nice is the 17th, the policy the 39th
    with open(f"/proc/{pid}/task/{tid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[16]), int(fields[38])
def ioclass(tid):
    return libc.syscall(SYS_ioprio_get, 1, tid) >> 13
deadline = time.time() + 120
while not os.path.isdir(tmp) and time.time() < deadline:
    time.sleep(0.005)
most, idle, main, allidle, seen = 0, 0, None, True, 0
history = []  # the competing threads of the last samples
before = set()  # the lowered threads of the last sample
while os.path.isdir(tmp):
    try:
        tids = [int(t) for t in os.listdir(f"/proc/{pid}/task")]
        stats = {t: stat(t) for t in tids}
        lowered = [t for t, (n, p) in stats.items() if n == 10 or p == 5]
        # A worker lowers itself as it starts: judged once seen alike for five samples.
        competing = {t for t in lowered if stats[t][1] != 5}
        history = (history + [competing])[-5:]
        if len(history) == 5:
            most = max(most, len(set.intersection(*history)))
        for t in lowered:
            if t in before and ioclass(t) != 3:
                allidle = False
        before = set(lowered)
        idle = max(idle, sum(1 for t in lowered if stats[t][1] == 5))
        if main is None or seen < 3:
            main = (stats[pid][0], ioclass(pid))
        seen += 1
    except (FileNotFoundError, ProcessLookupError, ValueError, KeyError):
        pass
    time.sleep(0.01)
print(f"niced={most} idle={idle} main={main[0] if main else '-'},{main[1] if main else '-'} "
      f"allidle={'yes' if allidle else 'no'} samples={seen}")
PY
}

# A local rclone remote "loc", NetworkManager's mock on a metered network ("guess-yes"), and a zip
# job "Away" due at once whose off-site copy goes to WORK/remote.
metered_offsite_job() {
    printf '%s\n' "[loc]" "type = local" >"$WORK/rclone.conf"
    export RCLONE_CONFIG="$WORK/rclone.conf"
    mkdir -p "$WORK/remote"
    start_mock networkmanager org.freedesktop.NetworkManager '{}' || check "the NetworkManager mock started" false
    # The template has no Metered property: added here.
    dbus-send --system --print-reply --dest=org.freedesktop.NetworkManager /org/freedesktop/NetworkManager \
        org.freedesktop.DBus.Mock.AddProperty string:org.freedesktop.NetworkManager string:Metered variant:uint32:3 \
        >/dev/null
    prefs "PostponeOffsiteMetered=-1" "RunMissedBackups=0"
    write_zip_job Away "$WORK/t-away" "OffsiteRemote=loc:$WORK/remote"
    due_soon Away
}
remote_zips() { find "$WORK/remote" -name '*.zip' | wc -l; }

# Run on connect through an agent (its start function; a label for the check): connected with a
# last success two hours old, the job runs; connected again within the hour, it does not.
run_on_connect_trial() {
    local runs
    runs=$(runs_of laptop)
    "$1"
    # Plugged once the agent has looked at the drives: one here at its start is no connection.
    # It opens the mount table just before that look.
    wait_for agent_has_open '/mountinfo$'
    sleep 1
    plug a
    check "connected, last success two hours old: $2 runs the job within 30 s" runs_reach laptop $((runs + 1))
    unplug
    plug a
    sleep 3
    check "connected again within the hour: $2 makes no second run" [ "$(runs_of laptop)" = $((runs + 1)) ]
    stop_agent
}
