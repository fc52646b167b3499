#!/usr/bin/env bash
# Passwords kept in the desktop keyring, through the real program and a real Secret Service: a
# gnome-keyring-daemon on a private session bus (dbus-run-session), unlocked by the test.
# /SETPASSWORD stores (from a pipe, and from a terminal without echo), a protected run makes an
# archive that unzip opens with that password while the job file, the log and the error report
# hold none, /VERIFY and /RESTORE read it, a job without an entry fails. Then without a keyring:
# no session bus, a bus address that leads nowhere, a bus that never answers: the run fails with
# its one line and writes no archive, /VERIFY, /RESTORE and /SETPASSWORD say why; /SETPASSWORD
# is not refused beside a running agent. With a second argument (the GUI test program) the
# editor's renames, the copies and the deletes are checked against the same keyring.
# Usage: keyring-tests.sh <path-to-stowline> [<path-to-test_gui>]
set -u

SELF="$0"
GUI_TESTS=${2:-}
. "$(dirname "$0")/cli-common.sh"
if [ "${STOWLINE_KEYRING_INNER:-}" != 1 ]; then
    missing=()
    for tool in dbus-run-session dbus-send gnome-keyring-daemon secret-tool unzip 7z bsdtar; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "SKIP: the keyring tests need ${missing[*]} (./dev installs them)"
        exit 77
    fi
fi
cli_begin keyring "$1"
LOG="$WORK/stowline.log"
PW='Tr0ub4dor &3 with spaces'
log_lines_with() { tr -d '\r' <"$LOG" | cut -c22- | grep -cxF -- "$1"; }

mkdir -p "$WORK/src/sub"
echo "the only copy of my work" >"$WORK/src/notes.txt"
head -c 100000 /dev/urandom >"$WORK/src/sub/data.bin"

lookup() { secret-tool lookup server Stowline user "$1" 2>/dev/null; }
no_password_in() { for f in "$@"; do [ ! -e "$f" ] || lacks "$f" "$PW" || return 1; done; }

secret_service_pid() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null |
        awk '/uint32/ {print $2}'
}

in_session() {
    # The daemon reads the keyring's own password on standard input and unlocks it.
    echo -n "keyring-unlock-pw" | gnome-keyring-daemon --unlock --components=secrets >"$WORK/daemon.env" 2>&1
    # It takes its name on the bus a moment after it forked: wait for that (bounded).
    local pid="" i
    for i in $(seq 1 100); do
        pid=$(secret_service_pid)
        [ -z "$pid" ] || break
        sleep 0.1
    done
    check "the keyring daemon answers on the session bus" test -n "$pid"

    # /SETPASSWORD: from standard input into the keyring; the job file keeps none.
    write_job -m Mail "$WORK/t1/" "$WORK/src" "Password=abc"
    printf '%s\n' "$PW" >"$WORK/pw"
    run /SETPASSWORD Mail <"$WORK/pw"
    check "/SETPASSWORD exits 0" test "$RC" -eq 0
    check "/SETPASSWORD says so" contains "$WORK/out" "The password of job 'Mail' is now kept in the desktop keyring."
    check "the keyring holds the password under Stowline and the job name" test "$(lookup Mail)" = "$PW"
    check "the job file says Keyring" contains "$JOBS/Mail.slj" "PasswordStore=Keyring"
    check "the job file's Password is empty" grep -qx $'Password=\r' "$JOBS/Mail.slj"

    # A run reads it: the archive opens with it and with nothing else.
    run /RUN Mail /EXIT
    check "the protected keyring run exits 0" test "$RC" -eq 0
    check "the archive is written" test -f "$WORK/t1/Mail.zip"
    check "unzip accepts the keyring's password" unzip -tqq -P "$PW" "$WORK/t1/Mail.zip"
    check "unzip refuses another password" bash -c "! unzip -tqq -P wrong '$WORK/t1/Mail.zip' >/dev/null 2>&1"
    check "the data is protected (no readable text in the archive)" lacks "$WORK/t1/Mail.zip" "the only copy of my work"
    check "neither job file, log nor error report holds the password" \
        no_password_in "$JOBS/Mail.slj" "$LOG" "$WORK/stowline.err" "$WORK/out" "$WORK/err"
    check "the recorded run leaves the job file's Password empty" grep -qx $'Password=\r' "$JOBS/Mail.slj"

    run /VERIFY Mail
    check "/VERIFY reads the archive with the keyring's password" test "$RC" -eq 0
    run /RESTORE Mail /TO "$WORK/back"
    check "/RESTORE exits 0" test "$RC" -eq 0
    check "/RESTORE gives the file back" cmp -s "$WORK/src/sub/data.bin" "$(find "$WORK/back" -name data.bin | head -1)"

    # AES-256 with the password in the keyring, under umask 022: 7-Zip and bsdtar open the
    # archive with it and with nothing else, and everything written is private.
    write_job -m Sealed "$WORK/t4/" "$WORK/src" "Password=" "Encryption=AES256"
    run /SETPASSWORD Sealed <"$WORK/pw"
    check "/SETPASSWORD of an AES job exits 0" test "$RC" -eq 0
    (umask 022 && "$S" /RUN Sealed /EXIT >"$WORK/out" 2>"$WORK/err")
    check "the AES keyring run exits 0" test $? -eq 0
    check "the AES job file keeps its encryption and holds no password" \
        bash -c "grep -qx \$'Encryption=AES256\r' '$JOBS/Sealed.slj' && grep -qx \$'Password=\r' '$JOBS/Sealed.slj'"
    check "7z tests the AES archive with the keyring's password" 7z t -bso0 -bse0 "-p$PW" "$WORK/t4/Sealed.zip"
    check "7z refuses another password" bash -c "! 7z t -bso0 -bse0 -pwrong '$WORK/t4/Sealed.zip'"
    mkdir -p "$WORK/bsd"
    check "bsdtar extracts it with the password" bsdtar -xf "$WORK/t4/Sealed.zip" -C "$WORK/bsd" --passphrase "$PW"
    check "... the file as it was" cmp -s "$WORK/src/sub/data.bin" "$(find "$WORK/bsd" -name data.bin | head -1)"
    check "the entries are AES (method 99)" python3 -c "import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
sys.exit(0 if all(i.compress_type == 99 for i in z.infolist() if not i.is_dir()) else 1)" "$WORK/t4/Sealed.zip"
    check "no readable data without the password" lacks "$WORK/t4/Sealed.zip" "the only copy of my work"
    check "the archive, the log, the flag store and the job file are 0600" \
        test "$(stat -c %a "$WORK/t4/Sealed.zip" "$LOG" "$WORK/ArchiveFlags.db" "$JOBS/Sealed.slj" | sort -u)" = 600
    rm -f "$WORK/t4/Sealed.zip"
    env -u DBUS_SESSION_BUS_ADDRESS "$S" /RUN Sealed /EXIT >"$WORK/out" 2>"$WORK/err"
    check "the same AES job without a session bus exits 1" test $? -eq 1
    check "... with the keyring line" test "$(tr -d '\r' <"$LOG" | grep -c "The password of job 'Sealed' is kept in the desktop keyring, which cannot be reached: ")" -eq 1
    check "... and writes no archive" test -z "$(ls -A "$WORK/t4")"

    # A keyring without the job's entry: the run fails with its line and writes nothing.
    write_job -m Photos "$WORK/t2/" "$WORK/src" "Password=" "PasswordStore=Keyring"
    run /RUN Photos /EXIT
    check "a keyring job without an entry fails its run (exit 1)" test "$RC" -eq 1
    check "... with exactly one line naming it" test "$(log_lines_with "The password of job 'Photos' is kept in the desktop keyring, which cannot be reached: no password is stored for it")" -eq 1
    check "... and no archive" test -z "$(ls -A "$WORK/t2")"

    # On a terminal: a prompt, and the typing is not echoed.
    write_job -m Tty "$WORK/t3/" "$WORK/src" "Password="
    python3 - "$S" >"$WORK/tty.out" 2>&1 <<'PY'
import os, pty, select, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1], "/SETPASSWORD", "Tty"])
out, end = b"", time.time() + 60
while b"Password for job 'Tty': " not in out and time.time() < end:
    if select.select([fd], [], [], 0.5)[0]:
        out += os.read(fd, 1024)
os.write(fd, b"typed on a tty\n")
while time.time() < end:
    if not select.select([fd], [], [], 1)[0]:
        continue
    try:
        chunk = os.read(fd, 1024)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
status = os.waitpid(pid, 0)[1]
sys.stdout.write(out.decode(errors="replace"))
sys.exit(os.waitstatus_to_exitcode(status))
PY
    RC=$?
    check "/SETPASSWORD on a terminal exits 0" test "$RC" -eq 0
    check "... after asking for the password" contains "$WORK/tty.out" "Password for job 'Tty': "
    check "... without echoing it" lacks "$WORK/tty.out" "typed on a tty"
    check "... and stores it" test "$(lookup Tty)" = "typed on a tty"

    run /SETPASSWORD Nobody <"$WORK/pw"
    check "/SETPASSWORD of an unknown job exits 1" test "$RC" -eq 1
    run /SETPASSWORD Photos </dev/null
    check "/SETPASSWORD without a password exits 1" test "$RC" -eq 1
    check "... and stores nothing" test -z "$(lookup Photos)"

    if [ -n "$GUI_TESTS" ]; then
        STOWLINE_KEYRING_SESSION=1 QT_QPA_PLATFORM=offscreen timeout 300 "$GUI_TESTS" \
            --gtest_filter='KeyringSession*' >"$WORK/gui.out" 2>&1
        local grc=$?
        check "the editor, copy and delete keep the keyring entries with their jobs" test "$grc" -eq 0
        check "... checked in this keyring, not skipped" grep -q '^\[  PASSED  \] 1 test' "$WORK/gui.out"
        [ "$grc" -eq 0 ] || tail -30 "$WORK/gui.out"
    fi

    [ -z "$pid" ] || kill "$pid" 2>/dev/null
    echo "$PASSED $FAILED" >"$KEYRING_COUNTS"
}

if [ "${STOWLINE_KEYRING_INNER:-}" = 1 ]; then
    in_session
    exit 0
fi

# The part with a keyring runs on its own session bus, in its own installation, and hands its
# counts back.
export KEYRING_COUNTS="$WORK/counts"
STOWLINE_KEYRING_INNER=1 timeout 900 dbus-run-session -- bash "$SELF" "$BIN" "$GUI_TESTS"
if [ -f "$KEYRING_COUNTS" ]; then
    read -r p f <"$KEYRING_COUNTS"
    PASSED=$((PASSED + p))
    FAILED=$((FAILED + f))
else
    check "the part with a keyring ran to its end" false
fi

# /SETPASSWORD answers beside a running agent: it takes no single-instance lock (without a
# keyring it fails for that reason, not because an agent runs).
env -u DBUS_SESSION_BUS_ADDRESS "$S" /SILENT >"$WORK/agent-out" 2>"$WORK/agent-err" &
AGENT_PID=$!
check "a headless agent runs and holds the instance lock" wait_for agent_holds_lock
write_job -m Beside "$WORK/t0/" "$WORK/src" "Password=" "PasswordStore=Keyring"
env -u DBUS_SESSION_BUS_ADDRESS timeout 60 "$S" /SETPASSWORD Beside </dev/null >"$WORK/out" 2>"$WORK/err"
RC=$?
check "/SETPASSWORD is not refused while an agent runs" test "$RC" -eq 1
check "... it says what it did instead" lacks "$WORK/err" "already running"
kill -TERM "$AGENT_PID"
wait "$AGENT_PID"

# No keyring to be had: no session bus at all, or one that points nowhere. The run fails at once
# with its one line and writes no archive; /SETPASSWORD changes nothing.
write_job -m Mail "$WORK/t1/" "$WORK/src" "Password=" "PasswordStore=Keyring"
UNREACHABLE="The password of job 'Mail' is kept in the desktop keyring, which cannot be reached: "
for bus in none nowhere; do
    if [ $bus = none ]; then
        env -u DBUS_SESSION_BUS_ADDRESS timeout 60 "$S" /RUN Mail /EXIT >"$WORK/out" 2>"$WORK/err"
    else
        DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/no-bus-here" timeout 60 "$S" /RUN Mail /EXIT >"$WORK/out" 2>"$WORK/err"
    fi
    RC=$?
    check "without a keyring ($bus) the run exits 1" test "$RC" -eq 1
    check "... with exactly one line saying why" \
        test "$(tr -d '\r' <"$LOG" | cut -c22- | grep -cF -- "$UNREACHABLE")" -eq 1
    check "... and writes no archive" test -z "$(ls -A "$WORK/t1")"
    rm -f "$LOG"
done
# A bus that takes the connection and never answers (a hung keyring, a prompt nobody sees): the
# wait ends after its 10 s with that reason, never a hang.
python3 - "$WORK/mute-bus" <<'PY' &
import socket, sys, time
server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
server.bind(sys.argv[1])
server.listen(8)
server.settimeout(0.5)
held, end = [], time.time() + 120
while time.time() < end:
    try:
        held.append(server.accept()[0])
    except socket.timeout:
        pass
PY
MUTE_PID=$!
for i in $(seq 1 100); do
    [ -S "$WORK/mute-bus" ] && break
    sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/mute-bus" timeout 60 "$S" /RUN Mail /EXIT >"$WORK/out" 2>"$WORK/err"
RC=$?
kill "$MUTE_PID"
wait "$MUTE_PID" 2>/dev/null
check "a keyring that never answers fails the run (exit 1)" test "$RC" -eq 1
check "... after its wait, with that reason" \
    test "$(tr -d '\r' <"$LOG" | cut -c22- | grep -cxF -- "${UNREACHABLE}no answer within 10 s")" -eq 1
check "... and writes no archive" test -z "$(ls -A "$WORK/t1")"
rm -f "$LOG"

env -u DBUS_SESSION_BUS_ADDRESS timeout 60 "$S" /VERIFY Mail >"$WORK/out" 2>"$WORK/err"
RC=$?
check "/VERIFY without a keyring exits 1" test "$RC" -eq 1
check "... saying why on standard error" contains "$WORK/err" "$UNREACHABLE"
env -u DBUS_SESSION_BUS_ADDRESS timeout 60 "$S" /RESTORE Mail /TO "$WORK/back" >"$WORK/out" 2>"$WORK/err"
RC=$?
check "/RESTORE without a keyring exits 1" test "$RC" -eq 1
check "... saying why on standard error" contains "$WORK/err" "$UNREACHABLE"
printf '%s\n' "$PW" >"$WORK/pw"
cp "$JOBS/Mail.slj" "$WORK/Mail.before"
env -u DBUS_SESSION_BUS_ADDRESS timeout 60 "$S" /SETPASSWORD Mail <"$WORK/pw" >"$WORK/out" 2>"$WORK/err"
RC=$?
check "/SETPASSWORD without a keyring exits 1" test "$RC" -eq 1
check "... saying why on standard error" contains "$WORK/err" "$UNREACHABLE"
check "... and leaves the job file as it was" cmp -s "$JOBS/Mail.slj" "$WORK/Mail.before"
check "nothing written holds the password" no_password_in "$JOBS/Mail.slj" "$WORK/stowline.err" "$WORK/out" "$WORK/err"

cli_end
