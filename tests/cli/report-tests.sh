#!/usr/bin/env bash
# Reports off the machine, through the real program and real local servers started and stopped
# here: mail through aiosmtpd (STARTTLS and TLS from the first byte, with a certificate of a test
# authority made by openssl, a login checked by the server), monitoring pings through a python
# HTTP server that logs each request, a server that never answers and a port where none listens.
# The SMTP password lives in a real keyring (gnome-keyring-daemon on a private session bus).
# Checked: nothing is sent while the options are empty; a failing job with a ping address and
# ReportWhen=Failures makes one /fail request and one mail naming the reason; successes ping; a
# wrong password, an unknown certificate, a server without STARTTLS, a refusing and a hanging
# server each leave the backup's outcome as it was, log "  Report not sent: ..." and keep the mail
# for the next report; the agents send too, and the daily digest goes once a day.
# With a second argument (the GUI test program) the preferences window's "Send test report" is
# sent through the same server.
# Usage: report-tests.sh <path-to-stowline> [<path-to-test_gui>]
set -u

SELF="$0"
GUI_TESTS=${2:-}
PY=/usr/bin/python3
SERVERS="$(cd "$(dirname "$0")" && pwd)/report-servers.py"
if [ "${STOWLINE_REPORT_INNER:-}" != 1 ]; then
    missing=()
    for tool in dbus-run-session dbus-send gnome-keyring-daemon secret-tool openssl; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    "$PY" -c 'import aiosmtpd' 2>/dev/null || missing+=(python3-aiosmtpd)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "SKIP: the report tests need ${missing[*]} (./dev installs them)"
        exit 77
    fi
    # The whole script on a session bus of its own, for the keyring.
    STOWLINE_REPORT_INNER=1 exec timeout 900 dbus-run-session -- bash "$SELF" "$@"
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin report "$1"
LOG="$WORK/stowline.log"
PIDS=()
AGENT_PID=""
cleanup() {
    [ -n "$AGENT_PID" ] && kill -KILL "$AGENT_PID" 2>/dev/null
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    [ -n "${KEYRING_PID:-}" ] && kill "$KEYRING_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# ---- the servers ----
CERTS="$WORK/certs"
mkdir -p "$CERTS"
(
    cd "$CERTS" &&
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=StowTestCA &&
        openssl req -newkey rsa:2048 -nodes -keyout srv.key -out srv.csr -subj /CN=localhost &&
        printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >ext &&
        openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 -extfile ext
) >/dev/null 2>&1
check "a test authority and a server certificate are made" test -s "$CERTS/srv.pem"
CA="$CERTS/ca.pem"
SMTP_USER=reporter
SMTP_PW='s3cret pass word'

start_server() { # name, then the server's arguments after its port file; sets PORT_<name>
    local name=$1
    shift
    local kind=$1
    shift
    "$PY" "$SERVERS" "$kind" "${@:1:1}" "$WORK/port-$name" "${@:2}" >"$WORK/server-$name.log" 2>&1 &
    PIDS+=($!)
    wait_for test -s "$WORK/port-$name" || { echo "server $name did not start" >&2; cat "$WORK/server-$name.log" >&2; }
    printf -v "PORT_$name" '%s' "$(cat "$WORK/port-$name")"
}
start_plain() { # name, kind (http or hang) and its log
    local name=$1 kind=$2
    shift 2
    "$PY" "$SERVERS" "$kind" "$WORK/port-$name" "$@" >"$WORK/server-$name.log" 2>&1 &
    PIDS+=($!)
    wait_for test -s "$WORK/port-$name"
    printf -v "PORT_$name" '%s' "$(cat "$WORK/port-$name")"
}
mkdir -p "$WORK/box-tls" "$WORK/box-smtps" "$WORK/box-plain"
start_server TLS smtp starttls "$WORK/box-tls" "$CERTS/srv.pem" "$CERTS/srv.key" "$SMTP_USER" "$SMTP_PW"
start_server SMTPS smtp smtps "$WORK/box-smtps" "$CERTS/srv.pem" "$CERTS/srv.key" "$SMTP_USER" "$SMTP_PW"
start_server PLAIN smtp plain "$WORK/box-plain"
touch "$WORK/http.log"
start_plain HTTP http "$WORK/http.log"
start_plain HANG hang
PORT_REFUSED=$("$PY" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
check "the servers listen" test -n "$PORT_TLS" -a -n "$PORT_SMTPS" -a -n "$PORT_PLAIN" -a -n "$PORT_HTTP" -a -n "$PORT_HANG"

# The keyring, unlocked with its own password.
echo -n "keyring-unlock-pw" | gnome-keyring-daemon --unlock --components=secrets >"$WORK/daemon.env" 2>&1
KEYRING_PID=$(sed -n 's/^GNOME_KEYRING_PID=//p' "$WORK/daemon.env")
# It takes its name on the bus a moment after it forked; asking the bus for the name's owner
# (unlike a keyring call) starts no second, locked daemon meanwhile.
keyring_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets >/dev/null 2>&1
}
wait_for keyring_on_bus
check "the keyring daemon answers on the session bus" keyring_on_bus

# ---- jobs, preferences and what arrived ----
mkdir -p "$WORK/data/sub"
echo "a file worth keeping" >"$WORK/data/a.txt"
echo "another one" >"$WORK/data/sub/b.txt"
QUIET=$(date -d "@$(($(date +%s) + 6 * 3600))" +%H:%M)
write_prefs() { # further [Preferences] lines
    printf '%s\r\n' "[Preferences]" "MaxBackupCopies=99" "LoggingMode=0" "StopOnError=0" "UseSystemTray=-1" \
        "RunMissedBackups=0" "StaleDays=7" "$@" >"$WORK/Stowline.txt"
}
mail_prefs() { # url, ReportWhen, further lines
    local url=$1 when=$2
    shift 2
    write_prefs "ReportSmtpUrl=$url" "ReportSmtpUser=$SMTP_USER" "ReportMailFrom=stowline@example.org" \
        "ReportMailTo=admin@example.org, second@example.org" "ReportWhen=$when" "$@"
}
MISSING_REASON="Stowline Pre-Emptive Error, file to backup does not exist: '$WORK/no-such-folder'."
write_job -m good "$WORK/target-good/" "$WORK/data" "StartTime=$QUIET" "PingUrl=http://127.0.0.1:$PORT_HTTP/ping/good"
write_job -m bad "$WORK/target-bad/" "$WORK/no-such-folder" "StartTime=$QUIET" \
    "PingUrl=http://127.0.0.1:$PORT_HTTP/ping/bad/"
mails() { find "$1" -type f -name 'mail-*' | wc -l; }
# The subject and the decoded text of the newest mail of a box.
newest_text() {
    "$PY" - "$(find "$1" -type f -name 'mail-*' | sort | tail -1)" <<'PY'
import email, email.header, sys
m = email.message_from_binary_file(open(sys.argv[1], "rb"))
print("Subject:", str(email.header.make_header(email.header.decode_header(m["Subject"]))))
for key in ("From", "To", "X-Envelope-From", "X-Envelope-To", "X-Login"):
    print("%s: %s" % (key, m[key]))
print(m.get_payload(decode=True).decode("utf-8"))
PY
}
requests() { grep -c "^$1 $2 " "$WORK/http.log"; } # method, path: how many
log_text() { tr -d '\r' <"$LOG" | cut -c22-; }
not_sent_lines() { log_text | grep -c '^  Report not sent: '; }
unsent() { find "$WORK/Reports" -name 'unsent-*.eml' 2>/dev/null | wc -l; }
fresh() { # a clean slate of reports between the parts
    rm -f "$LOG" "$WORK"/Reports/unsent-*.eml
    : >"$WORK/http.log"
}

# ---- nothing is sent while the options are empty ----
write_prefs
write_job -m quiet "$WORK/target-quiet/" "$WORK/data" "StartTime=$QUIET"
write_job -m quietbad "$WORK/target-quietbad/" "$WORK/no-such-folder" "StartTime=$QUIET"
run /RUN quiet quietbad /EXIT
check "without report options a failing job still exits 1" test "$RC" -eq 1
write_prefs "ReportWhen=Always" "ReportMailTo=admin@example.org"
run /RUN quiet quietbad /EXIT
check "with ReportWhen but no mail server, nothing is mailed" \
    test "$(mails "$WORK/box-tls")$(mails "$WORK/box-smtps")$(mails "$WORK/box-plain")" = 000
check "... no request is made without a ping address" test ! -s "$WORK/http.log"
check "... nothing is logged about reports" bash -c "! grep -q 'Report' '$LOG'"
check "... and no report is kept" test ! -e "$WORK/Reports"
rm -f "$JOBS/quiet.slj" "$JOBS/quietbad.slj"

# ---- the SMTP password through /SETPASSWORD /SMTP ----
printf '%s\n' "$SMTP_PW" >"$WORK/pw"
run /SETPASSWORD /SMTP <"$WORK/pw"
check "/SETPASSWORD /SMTP exits 0" test "$RC" -eq 0
check "... and says so" contains "$WORK/out" "The mail server's password is now kept in the desktop keyring."
check "the keyring holds it" test "$(secret-tool lookup server Stowline user /SMTP 2>/dev/null)" = "$SMTP_PW"
run /SETPASSWORD /SMTP extra </dev/null
check "/SETPASSWORD /SMTP with more after it is a usage error" test "$RC" -eq 2

# ---- a failing job: one /fail ping and one mail naming the reason (STARTTLS) ----
fresh
mail_prefs "smtp://127.0.0.1:$PORT_TLS" Failures "ReportCaFile=$CA"
T0=$(date +%s)
run /RUN bad /EXIT
ELAPSED=$(($(date +%s) - T0))
check "the failing job exits 1" test "$RC" -eq 1
check "one mail arrives over STARTTLS" test "$(mails "$WORK/box-tls")" -eq 1
check "... within 30 s of the failure" test "$ELAPSED" -le 30
newest_text "$WORK/box-tls" >"$WORK/mail.txt"
check "... naming the job in its subject" contains "$WORK/mail.txt" "Subject: Stowline: backup of 'bad' failed"
check "... and the reason" contains "$WORK/mail.txt" "Reason: $MISSING_REASON"
check "... with the run's log lines" contains "$WORK/mail.txt" "  $MISSING_REASON"
check "... after logging in as the user" contains "$WORK/mail.txt" "X-Login: $SMTP_USER"
check "... to both addresses" contains "$WORK/mail.txt" "X-Envelope-To: admin@example.org,second@example.org"
check "... from the sender" contains "$WORK/mail.txt" "X-Envelope-From: stowline@example.org"
check "one /start request" test "$(requests GET /ping/bad/start)" -eq 1
check "one /fail request" test "$(requests POST /ping/bad/fail)" -eq 1
check "... and nothing else" test "$(wc -l <"$WORK/http.log")" -eq 2
check "the /fail body names the reason" grep -qF "POST /ping/bad/fail $MISSING_REASON" "$WORK/http.log"
check "the /start request came first" bash -c "head -1 '$WORK/http.log' | grep -q '^GET /ping/bad/start '"
check "the log says the mail was sent" bash -c "grep -q '  Report sent: mail ' '$LOG'"
check "no report is left unsent" test "$(unsent)" -eq 0
check "the password reached no file" bash -c "! grep -rqaF '$SMTP_PW' '$WORK/Stowline.txt' '$LOG' '$WORK/Reports' '$JOBS'"

# ---- a name outside ASCII and a log line longer than any mail line may be ----
LONG="$WORK/missing=$(printf 'ü%.0s' $(seq 1 200))/x"
write_job -m "Fête" "$WORK/target-Fête/" "$LONG" "StartTime=$QUIET"
BEFORE=$(mails "$WORK/box-tls")
run /RUN "Fête" /EXIT
check "a failing job with a name outside ASCII is mailed" test "$(mails "$WORK/box-tls")" -eq $((BEFORE + 1))
newest_text "$WORK/box-tls" >"$WORK/mail.txt"
check "... its name intact in the subject" contains "$WORK/mail.txt" "Subject: Stowline: backup of 'Fête' failed"
check "... and the long reason intact in the text" \
    contains "$WORK/mail.txt" "Reason: Stowline Pre-Emptive Error, file to backup does not exist: '$LONG'."
check "... in lines no longer than 78 bytes" \
    "$PY" -c "import sys; sys.exit(max(len(l) for l in open(sys.argv[1], 'rb').read().split(b'\r\n')[8:]) > 78)" \
    "$(find "$WORK/box-tls" -type f -name 'mail-*' | sort | tail -1)"
# The counts below go on from the first mail alone.
rm -f "$JOBS/Fête.slj" "$(find "$WORK/box-tls" -type f -name 'mail-*' | sort | tail -1)"

# ---- a success: pings, and no mail with ReportWhen=Failures ----
fresh
run /RUN good /EXIT
check "the good job exits 0" test "$RC" -eq 0
check "no mail for a success with ReportWhen=Failures" test "$(mails "$WORK/box-tls")" -eq 1
check "a success pings /start and the address itself" \
    test "$(requests GET /ping/good/start)$(requests POST /ping/good)" = 11
check "... and never /fail" test "$(requests POST /ping/good/fail)" -eq 0

# ---- ReportWhen=Always over smtps:// ----
fresh
mail_prefs "smtps://127.0.0.1:$PORT_SMTPS" Always "ReportCaFile=$CA"
run /RUN good /EXIT
check "the good job exits 0 with mail on" test "$RC" -eq 0
check "one mail arrives over TLS from the first byte" test "$(mails "$WORK/box-smtps")" -eq 1
newest_text "$WORK/box-smtps" >"$WORK/mail.txt"
check "... saying the backup succeeded" contains "$WORK/mail.txt" "Subject: Stowline: backup of 'good' succeeded"
check "... with the run's header line" contains "$WORK/mail.txt" "  -- good ---"

# ---- a wrong password: not sent, kept, sent with the next report ----
fresh
printf '%s\n' "not the password" | "$S" /SETPASSWORD /SMTP >/dev/null 2>&1
mail_prefs "smtp://127.0.0.1:$PORT_TLS" Failures "ReportCaFile=$CA"
run /RUN bad /EXIT
check "with a wrong password the failing job still exits 1" test "$RC" -eq 1
check "... no mail arrives" test "$(mails "$WORK/box-tls")" -eq 1
check "... the log says why" bash -c "tr -d '\r' <'$LOG' | grep -q \"^.\{21\}  Report not sent: mail 'Stowline: backup of 'bad' failed' to smtp://127.0.0.1:$PORT_TLS: Login denied\""
check "... and the mail is kept" test "$(unsent)" -eq 1
check "the kept mail is private" test "$(stat -c %a "$WORK"/Reports/unsent-*.eml)" = 600
check "... in a private folder" test "$(stat -c %a "$WORK/Reports")" = 700
"$S" /SETPASSWORD /SMTP <"$WORK/pw" >/dev/null 2>&1
rm -f "$LOG"
run /RUN bad /EXIT
check "with the right password the kept mail and the new one arrive" test "$(mails "$WORK/box-tls")" -eq 3
check "... and none is left" test "$(unsent)" -eq 0

# ---- certificates are verified ----
fresh
mail_prefs "smtps://127.0.0.1:$PORT_SMTPS" Failures
run /RUN bad /EXIT
check "a certificate of an unknown authority: no mail" test "$(mails "$WORK/box-smtps")" -eq 1
check "... the log names the certificate" bash -c "grep -q '  Report not sent: .*\(certificate\|SSL\)' '$LOG'"

# ---- plain smtp:// without STARTTLS is refused ----
fresh
mail_prefs "smtp://127.0.0.1:$PORT_PLAIN" Failures "ReportCaFile=$CA"
run /RUN bad /EXIT
check "a server without STARTTLS gets nothing" test "$(mails "$WORK/box-plain")" -eq 0
check "... the log says the report was not sent" test "$(not_sent_lines)" -ge 1
check "... and the run's outcome stands (exit 1)" test "$RC" -eq 1

# ---- a refusing server ----
fresh
mail_prefs "smtp://127.0.0.1:$PORT_REFUSED" Always "ReportCaFile=$CA"
run /RUN good /EXIT
check "a refusing server leaves the success as it is (exit 0)" test "$RC" -eq 0
check "... the log says why" bash -c "grep -q \"  Report not sent: mail 'Stowline: backup of 'good' succeeded' to smtp://127.0.0.1:$PORT_REFUSED: \" '$LOG'"
check "... and keeps the mail" test "$(unsent)" -eq 1

# ---- a server that never answers: the run ends on time, the mail goes with the next one ----
fresh
mail_prefs "smtp://127.0.0.1:$PORT_HANG" Always "ReportCaFile=$CA"
RUNS_BEFORE=$(key_of good RunCount | tr -d '\r')
T0=$(date +%s)
timeout 120 "$S" /RUN good /EXIT >"$WORK/out" 2>"$WORK/err" &
RUN_PID=$!
recorded() { [ "$(key_of good RunCount | tr -d '\r')" -gt "$RUNS_BEFORE" ]; }
wait_for recorded
RECORDED_AFTER=$(($(date +%s) - T0))
check "the run is recorded at once while the mail waits for the server" test "$RECORDED_AFTER" -le 10
check "... the program still sending" kill -0 "$RUN_PID"
wait "$RUN_PID"
RC=$?
ELAPSED=$(($(date +%s) - T0))
check "the run's exit status is its own (0)" test "$RC" -eq 0
check "the program ends within its bound" test "$ELAPSED" -le 45
check "the log says the mail was not sent" bash -c "grep -q \"  Report not sent: mail 'Stowline: backup of 'good' succeeded' to smtp://127.0.0.1:$PORT_HANG: \" '$LOG'"
check "... and keeps it" test "$(unsent)" -eq 1
mail_prefs "smtps://127.0.0.1:$PORT_SMTPS" Always "ReportCaFile=$CA"
BEFORE=$(mails "$WORK/box-smtps")
rm -f "$LOG"
run /RUN good /EXIT
check "the next report sends the kept mail too" test "$(mails "$WORK/box-smtps")" -eq $((BEFORE + 2))
check "... and none is left" test "$(unsent)" -eq 0

# ---- a ping address that never answers ----
fresh
write_prefs
write_job -m slowping "$WORK/target-slowping/" "$WORK/data" "StartTime=$QUIET" \
    "PingUrl=http://127.0.0.1:$PORT_HANG/check"
T0=$(date +%s)
run /RUN slowping /EXIT
ELAPSED=$(($(date +%s) - T0))
check "a hanging ping leaves the run's status alone (exit 0)" test "$RC" -eq 0
check "... the program ends within its bound" test "$ELAPSED" -le 45
check "... the log says the ping was not sent" bash -c "grep -q '  Report not sent: ping http://127.0.0.1:$PORT_HANG/check/start: ' '$LOG'"
check "... and the run's lines are all there" bash -c "grep -q '  -- slowping ---' '$LOG' || grep -q -- '-- slowping ---' '$LOG'"
rm -f "$JOBS/slowping.slj"

# ---- the headless agent sends for the runs it makes ----
fresh
mail_prefs "smtp://127.0.0.1:$PORT_TLS" Failures "ReportCaFile=$CA"
sed -i 's/^RunMissedBackups=0/RunMissedBackups=-1/' "$WORK/Stowline.txt"
BEFORE=$(mails "$WORK/box-tls")
DUE=$(date -d "@$(($(date +%s) - 120))" +%H:%M)
write_job -m bad "$WORK/target-bad/" "$WORK/no-such-folder" "StartTime=$DUE" \
    "PingUrl=http://127.0.0.1:$PORT_HTTP/ping/agent"
start_agent
agent_mailed() { [ "$(mails "$WORK/box-tls")" -gt "$BEFORE" ]; }
T0=$(date +%s)
wait_for agent_mailed
check "the agent's failed run is mailed within 30 s" test $(($(date +%s) - T0)) -le 30
agent_pinged() { [ "$(requests POST /ping/agent/fail)" -ge 1 ]; }
wait_for agent_pinged
check "... and pinged /fail once" test "$(requests POST /ping/agent/fail)" -eq 1
stop_agent
check "... exactly one mail" test "$(mails "$WORK/box-tls")" -eq $((BEFORE + 1))
check "the agent ends with status 0" test "$AGENT_RC" -eq 0
write_job -m bad "$WORK/target-bad/" "$WORK/no-such-folder" "StartTime=$QUIET" \
    "PingUrl=http://127.0.0.1:$PORT_HTTP/ping/bad/"

# ---- the daily digest ----
fresh
mail_prefs "smtps://127.0.0.1:$PORT_SMTPS" Daily "ReportCaFile=$CA"
BEFORE=$(mails "$WORK/box-smtps")
# A source that selects nothing: the run is recorded as failed (a missing one is not recorded).
mkdir -p "$WORK/empty"
write_job -m bad "$WORK/target-bad/" "$WORK/data" "StartTime=$QUIET"
sed -i "s|^File_0=.*\r$|&\nFile_1=$WORK/empty/*.doc\r|" "$JOBS/bad.slj"
run /RUN bad /EXIT
check "the failing job is recorded as failed" test -n "$(key_of bad DateLastFailure)"
check "with ReportWhen=Daily a failed run sends no mail of its own" test "$(mails "$WORK/box-smtps")" -eq "$BEFORE"
start_agent
digest_in() { [ "$(mails "$WORK/box-smtps")" -ge "$1" ]; }
wait_for digest_in $((BEFORE + 1))
stop_agent
check "the agent sends a digest" test "$(mails "$WORK/box-smtps")" -eq $((BEFORE + 1))
newest_text "$WORK/box-smtps" >"$WORK/digest.txt"
check "... with its subject" contains "$WORK/digest.txt" "Subject: Stowline daily report: 2 jobs, 1 failed"
check "... listing every job once" \
    test "$(grep -c '^bad: failed; ' "$WORK/digest.txt")$(grep -c '^good: ok; ' "$WORK/digest.txt")" = 11
check "... the failed job first" bash -c "grep -E '^(bad|good): ' '$WORK/digest.txt' | head -1 | grep -q '^bad: failed'"
check "the day's digest is noted" grep -q "LastDigest=$(date +%Y%m%d)" "$WORK/Reports/state.txt"
start_agent
sleep 2
stop_agent
check "a second agent the same day sends no second digest" test "$(mails "$WORK/box-smtps")" -eq $((BEFORE + 1))
sed -i "s/^LastDigest=.*/LastDigest=20000101\r/" "$WORK/Reports/state.txt"
start_agent
wait_for digest_in $((BEFORE + 2))
stop_agent
check "on the next day the digest goes again" test "$(mails "$WORK/box-smtps")" -eq $((BEFORE + 2))

# ---- no thread to be had: the pings go once the run is recorded, from the run's own thread ----
# An ordinary user under a process limit its processes already fill (as in thread-limit-tests.sh).
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && command -v prlimit >/dev/null; then
    fresh
    write_prefs
    write_job -m nothread "$WORK/target-nothread/" "$WORK/data" "StartTime=$QUIET" \
        "PingUrl=http://127.0.0.1:$PORT_HTTP/ping/nothread"
    chown -R nobody "$WORK"
    have=$(ps -L -u nobody --no-headers 2>/dev/null | wc -l)
    limit=$((have + 1))
    timeout 120 setpriv --reuid=nobody --regid=nogroup --clear-groups prlimit --nproc="$limit:$limit" \
        "$S" /RUN nothread /EXIT >"$WORK/out" 2>"$WORK/err"
    RC=$?
    check "without a thread to send on, the run succeeds (exit 0)" test "$RC" -eq 0
    check "... the log says no thread could be started" \
        bash -c "grep -q 'Could not start all worker threads (Resource temporarily unavailable); going on with none' '$LOG'"
    check "... and both pings still go, in order" \
        test "$(cut -d' ' -f1,2 "$WORK/http.log" | tr '\n' ' ')" = "GET /ping/nothread/start POST /ping/nothread "
    chown -R root "$WORK"
    rm -f "$JOBS/nothread.slj"
else
    echo "skip - no thread to be had: needs root, setpriv and prlimit"
fi

# ---- "Send test report" in the preferences window ----
if [ -n "$GUI_TESTS" ]; then
    BEFORE=$(mails "$WORK/box-tls")
    STOWLINE_REPORT_TEST_URL="smtp://127.0.0.1:$PORT_TLS" STOWLINE_REPORT_TEST_CA="$CA" \
        STOWLINE_REPORT_TEST_USER="$SMTP_USER" STOWLINE_REPORT_TEST_PASSWORD="$SMTP_PW" QT_QPA_PLATFORM=offscreen \
        timeout 120 "$GUI_TESTS" --gtest_filter='ReportPreferences.SendsTheTestReportThroughARealServer' \
        >"$WORK/gui.out" 2>&1
    grc=$?
    check "the window's test report says it was sent" test "$grc" -eq 0
    check "... checked against the server, not skipped" grep -q '^\[  PASSED  \] 1 test' "$WORK/gui.out"
    check "... and it arrives" test "$(mails "$WORK/box-tls")" -eq $((BEFORE + 1))
    newest_text "$WORK/box-tls" >"$WORK/mail.txt"
    check "... as the test report" contains "$WORK/mail.txt" "Subject: Stowline: test report"
    [ "$grc" -eq 0 ] || tail -30 "$WORK/gui.out"
fi

cli_end
