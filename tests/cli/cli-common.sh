# What every command-line script shares, sourced after `set -u`: a separate installation in a
# temporary folder (a copy of the binary, which makes that folder its application folder with its
# own jobs, logs and preferences), no display, its own runtime and home folders; the checks and
# their count; the runner that keeps standard output, standard error and the exit status.
#
#   . "$(dirname "$0")/cli-common.sh"
#   cli_begin <tag> "$@"        # WORK, BIN (the binary given), S (its copy), JOBS, RC
#   ...checks...
#   cli_end                     # prints "N passed, N failed"; the script's status
#
# A script that starts processes or mounts sets its own EXIT trap, which must remove "$WORK".

# The zip tools shared with the engine tests: readers and damagers other than the program.
ZIPCHECK="$(cd "$(dirname "${BASH_SOURCE[0]}")/../zipcheck" && pwd)"

cli_begin() { # tag, then the script's arguments (the path of the stowline binary)
    local tag=$1
    shift
    if [ $# -ne 1 ] || [ ! -x "$1" ]; then
        echo "usage: $0 <path-to-stowline>" >&2
        exit 2
    fi
    BIN=$1
    WORK=$(mktemp -d "/tmp/stowline-$tag-XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
    cp "$BIN" "$WORK/stowline"
    S="$WORK/stowline"
    JOBS="$WORK/BackupJobs"
    mkdir -p "$JOBS" "$WORK/run" "$WORK/home"
    chmod 700 "$WORK/run"
    unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
    export XDG_RUNTIME_DIR="$WORK/run" HOME="$WORK/home"
    PASSED=0
    FAILED=0
    RC=0
    RUN_TIMEOUT=${RUN_TIMEOUT:-120}
}

check() { # name, then a command that succeeds when the check holds
    local name=$1
    shift
    if "$@"; then
        PASSED=$((PASSED + 1))
        echo "ok   - $name"
    else
        FAILED=$((FAILED + 1))
        echo "FAIL - $name"
        [ -f "$WORK/out" ] && sed 's/^/       stdout: /' "$WORK/out" | head -20
        [ -f "$WORK/err" ] && sed 's/^/       stderr: /' "$WORK/err" | head -20
    fi
}

run() { # runs the installation's stowline with arguments, keeping stdout, stderr and the status
    timeout "$RUN_TIMEOUT" "$S" "$@" >"$WORK/out" 2>"$WORK/err"
    RC=$?
}

# Waits for a command to succeed: up to 60 s, or WAIT_TICKS tenths of a second.
wait_for() {
    local i
    for i in $(seq 1 "${WAIT_TICKS:-600}"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

key_of() { # job name, key: the value in the job file
    tr -d '\r' <"$JOBS/$1.slj" | sed -n "s/^$2=//p" | head -1
}

# Writes a job file (CRLF lines): a daily zip job, recorded as never run, of the sources into the
# target, with the defaults below. Options before the name: -m makes the target folder, -p leaves
# the file readable by its owner alone, -e reads the name's backslash escapes (as printf %b does;
# the file keeps the plain name), -f FILE writes FILE instead of $JOBS/<name>.slj. After the
# target: Key=value replaces a default or adds a key to [Config], -Key leaves a default out, an
# empty argument is nothing, anything else is a source.
write_job() { # [-m] [-p] [-e] [-f file] name target [Key=value | -Key | source]...
    local make=0 private=0 escapes=0 file="" arg key
    while :; do
        case $1 in
        -m) make=1 && shift ;;
        -p) private=1 && shift ;;
        -e) escapes=1 && shift ;;
        -f) file=$2 && shift 2 ;;
        *) break ;;
        esac
    done
    local name=$1 target=$2
    shift 2
    local keys=(DateLastRun SizeLastRun RunCount StartTime Frequency DayOfWeek DayOfMonth Compress CopyStyle
        KeepCount KeepPeriod Password ParseSubDir Incremental Suspended PreBackupCommand PostBackupCommand TargetDir)
    local -A value=([DateLastRun]="Jan-01-1900 00:00" [SizeLastRun]=-1 [RunCount]=0 [StartTime]=12:00
        [Frequency]=1 [DayOfWeek]=254 [DayOfMonth]=1 [Compress]=-1 [CopyStyle]=0 [KeepCount]=3
        [KeepPeriod]=Copies [Password]= [ParseSubDir]=-1 [Incremental]=0 [Suspended]=0 [PreBackupCommand]=
        [PostBackupCommand]= [TargetDir]="$target")
    local sources=() i=0
    for arg in "$@"; do
        case $arg in
        "") ;;
        -[A-Za-z]*) unset "value[${arg#-}]" ;;
        [A-Za-z]*=*)
            key=${arg%%=*}
            [[ " ${keys[*]} " == *" $key "* ]] || keys+=("$key")
            value[$key]=${arg#*=}
            ;;
        *) sources+=("$arg") ;;
        esac
    done
    [ "$make" -eq 1 ] && mkdir -p "$target"
    {
        local format='[Config]\r\nJobName=%s\r\n'
        [ "$escapes" -eq 1 ] && format='[Config]\r\nJobName=%b\r\n'
        printf "$format" "$name"
        for key in "${keys[@]}"; do
            [[ -v "value[$key]" ]] && printf '%s=%s\r\n' "$key" "${value[$key]}"
        done
        printf '[Source]\r\n'
        for arg in "${sources[@]}"; do
            printf 'File_%d=%s\r\n' "$i" "$arg"
            i=$((i + 1))
        done
        printf '[Exclude]\r\n[OneShot]\r\n'
    } >"${file:=$JOBS/$name.slj}"
    [ "$private" -eq 0 ] || chmod 600 "$file"
}

# A password as a job file keeps it: each byte exclusive-or 0xA5.
scrambled() { python3 -c 'import sys; sys.stdout.buffer.write(bytes(b ^ 0xA5 for b in sys.argv[1].encode()))' "$1"; }

# The headless agent of the installation, AGENT_PID while it runs: started and waited for until
# it holds the instance lock (seen in its open files: probing the lock with flock(1) would take it
# for a moment and could refuse the agent itself), stopped with a signal (TERM unless named),
# its status left in AGENT_RC.
# Whether the agent holds a file open whose name matches the pattern (grep).
agent_has_open() { ls -l "/proc/$AGENT_PID/fd" 2>/dev/null | grep -q -- "$1"; }
agent_holds_lock() { agent_has_open 'stowline-[0-9a-f]*\.lock'; }
start_agent() {
    "$S" /SILENT >"$WORK/agent-out" 2>"$WORK/agent-err" &
    AGENT_PID=$!
    wait_for agent_holds_lock
}
stop_agent() {
    kill "-${1:-TERM}" "$AGENT_PID"
    wait "$AGENT_PID"
    AGENT_RC=$?
    AGENT_PID=""
}

# A second process swapping a folder for a link to another place and back, again and again,
# until the stop file appears (restores must never follow it): folder, link target, stop file.
swapper() {
    python3 - "$1" "$2" "$3" <<'PY' &
import os, sys, time
folder, target, stop = sys.argv[1:]
moved = folder + ".moved"
while not os.path.exists(stop):
    try:
        os.rename(folder, moved)
        os.symlink(target, folder)
        time.sleep(0.0005)
        os.unlink(folder)
        os.rename(moved, folder)
    except OSError:
        time.sleep(0.0002)
    time.sleep(0.0005)
# Leave the folder as it was found where it can: a restore may have made a new folder under its
# name while it was moved away, and then the original stays beside it.
if os.path.lexists(moved):
    if os.path.islink(folder):
        os.unlink(folder)
    if not os.path.lexists(folder):
        os.rename(moved, folder)
PY
    BG=$!
}
stop_swapper() {
    touch "$WORK/stop"
    wait "$BG" 2>/dev/null
    BG=""
    rm -f "$WORK/stop"
}

# What a folder holds (names, types, modes, sizes, times): compared before and after.
# slow_text <bytes> <file>: random bytes written as text, so that deflate works through them and
# shrinks them by a quarter only (data it cannot shrink at all is stored without trying, at once):
# a source that keeps a zip run busy for a while.
slow_text() { head -c $(($1 * 3 / 4 + 3)) /dev/urandom | base64 | head -c "$1" >"$2"; }

state_of() { find "$1" -printf '%p %y %m %s %T@\n' 2>/dev/null | sort; }

contains() { grep -qaF -- "$2" "$1"; }
lacks() { ! grep -qaF -- "$2" "$1"; }
is_empty() { [ ! -s "$1" ]; }

cli_end() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}
