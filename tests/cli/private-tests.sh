#!/usr/bin/env bash
# What Stowline keeps for itself is the user's alone, and a job's password goes nowhere but its
# job file. Under umask 022 a password-protected zip job runs with a pre- and a post-command that
# record their arguments, environment, open files and the command line and environment of the
# stowline above them, and a watcher that records the job's temporary folder while the archive is
# written; a source that is missing gives a logged failure and a copy job with the same password
# ends in a fatal error report. Then every file of the installation, the target and the records
# is searched for the password, plain and scrambled as a job file holds it (raw and in
# hexadecimal); and the modes of the archive, the logs, the error report, the archive-flag store,
# the preferences, the job file, the job folder and the temporary folder are checked, with a copy
# backup that keeps a 0644 file 0644 and a 0600 file 0600.
# Usage: private-tests.sh <path-to-stowline>
set -u
umask 022

. "$(dirname "$0")/cli-common.sh"
cli_begin private "$@"
cleanup() {
    [ -n "$WORK" ] && touch "$WORK/rec/stop" 2>/dev/null
    sleep 0.1 # the watcher ends at its next look
    rm -rf "$WORK"
}
trap cleanup EXIT

PASSWORD='Qu1nce-Marmalade-7Zx'
REC="$WORK/rec" # what the commands record, outside the target
TARGET="$WORK/target"
mkdir -p "$REC" "$TARGET" "$WORK/data/sub" "$WORK/modes"
# Start times far from now, so that no run falls due while the agent runs.
QUIET=$(date -d "@$(($(date +%s) + 6 * 3600))" +%H:%M)

mode_of() { stat -c %a "$1" 2>/dev/null; }

# The pre- and post-command: arguments, environment, open files, then each process above up to
# the stowline that started it. The pre-command also starts the watcher of the temporary folder;
# the post-command stops it.
cat >"$WORK/record.sh" <<'SH'
#!/bin/sh
rec=$1 tag=$2
printf '%s\n' "$@" >"$rec/$tag.argv"
env >"$rec/$tag.env"
ls -l /proc/$$/fd/ >"$rec/$tag.fds" 2>&1
p=$PPID i=0 comm=""
while [ "$p" -gt 1 ] && [ "$i" -lt 5 ]; do
    tr '\0' '\n' <"/proc/$p/cmdline" >"$rec/$tag.cmdline.$i"
    tr '\0' '\n' <"/proc/$p/environ" >"$rec/$tag.environ.$i"
    comm=$(cat "/proc/$p/comm")
    [ "$comm" = stowline ] && break
    p=$(awk '/^PPid:/ {print $2}' "/proc/$p/status")
    i=$((i + 1))
done
echo "$comm" >"$rec/$tag.reached"
case $tag in
pre) sh "$(dirname "$0")/watch.sh" "$rec" "$3" </dev/null >/dev/null 2>&1 & ;;
post) touch "$rec/stop" ;;
esac
SH
# Records the mode and name of the temporary folder and of everything in it while it exists.
cat >"$WORK/watch.sh" <<'SH'
#!/bin/sh
rec=$1 temp=$2 n=0
while [ ! -e "$rec/stop" ] && [ "$n" -lt 20000 ]; do
    [ -d "$temp" ] && find "$temp" -exec stat -c '%a %n' {} + >>"$rec/temp-seen" 2>/dev/null
    sleep 0.005
    n=$((n + 1))
done
SH

# Every line logged (the most detailed mode), and a log and preferences as an older version left
# them, readable by everyone: they are made private.
printf '%s\r\n' "[Preferences]" "LoggingMode=0" >"$WORK/Stowline.txt"
printf '%s\r\n' "01/01/2026 10:00:00  an older line" >"$WORK/stowline.log"
chmod 644 "$WORK/Stowline.txt" "$WORK/stowline.log"

# A slow enough source (the archive is written for a while) and a file of the user's own 0600.
slow_text $((48 << 20)) "$WORK/data/noise.bin"
echo "public notes" >"$WORK/data/notes.txt"
echo "ssh key stand-in" >"$WORK/data/sub/id_key"
chmod 600 "$WORK/data/sub/id_key"
TEMP="$TARGET/.stowline-tmp-Secret"
write_job -p Secret "$TARGET/" "$WORK/data/" "StartTime=$QUIET" Compress=-1 "Password=$(scrambled "$PASSWORD")" \
    "PreBackupCommand=sh $WORK/record.sh $REC pre $TEMP %J %Z %D" \
    "PostBackupCommand=sh $WORK/record.sh $REC post %J %Z %D"
# The same password in a job with a source that is missing: a logged failure.
write_job -p Broken "$TARGET/" "$WORK/data/" "$WORK/no-such-folder/" "StartTime=$QUIET" Compress=-1 \
    "Password=$(scrambled "$PASSWORD")"

run /RUN Secret Broken /EXIT
check "the job with a missing source fails" [ "$RC" -eq 1 ]
check "the failure is logged" contains "$WORK/stowline.log" "does not exist: '$WORK/no-such-folder/'"
check "the archive was written" [ -f "$TARGET/Secret.zip" ]
NOTES=$(unzip -Z1 "$TARGET/Secret.zip" | grep 'notes.txt$')
check "the archive opens with its password" [ "$(unzip -P "$PASSWORD" -p "$TARGET/Secret.zip" "$NOTES")" = "public notes" ]
check "and not without it" [ "$(unzip -P wrong -p "$TARGET/Secret.zip" "$NOTES" 2>/dev/null)" != "public notes" ]
check "the pre-command ran under stowline" [ "$(cat "$REC/pre.reached" 2>/dev/null)" = stowline ]
check "the post-command ran under stowline" [ "$(cat "$REC/post.reached" 2>/dev/null)" = stowline ]
check "the commands' records hold what they should" contains "$REC/pre.env" "HOME=$WORK/home"
check "stowline's command line was recorded" grep -qx "/RUN" "$REC/pre.cmdline.0" "$REC/pre.cmdline.1"
check "the placeholders were given" grep -qx "Secret" "$REC/post.argv"

# ---- the temporary folder, seen while the archive was written ----
check "the temporary folder was seen during the run" grep -q " $TEMP\$" "$REC/temp-seen"
check "the temporary folder is 0700" [ -z "$(grep " $TEMP\$" "$REC/temp-seen" 2>/dev/null | grep -v '^700 ')" ]
check "the archive was seen being written" grep -q "^600 $TEMP/Secret.zip\.......\$" "$REC/temp-seen"
# (Under its temporary name while written, then under its own until retention renames it.)
check "only the archive was ever in it, and 0600" \
    [ -z "$(grep -v " $TEMP\$" "$REC/temp-seen" | grep -v "^600 $TEMP/Secret\.zip\(\.......\)\?\$")" ]
check "the temporary folder is gone" [ ! -e "$TEMP" ]

# ---- a fatal error in a job with a password ----
# A file-size limit (its signal ignored) makes copying a large file fail with EFBIG: reported as
# fatal, with its report block in stowline.err.
mkdir -p "$WORK/big"
head -c 300000 /dev/urandom >"$WORK/big/large.bin"
write_job -p Fatal "$TARGET/" "$WORK/big/" "StartTime=$QUIET" Compress=0 "Password=$(scrambled "$PASSWORD")"
(
    trap '' XFSZ
    ulimit -f 100
    run /RUN Fatal /EXIT
    exit "$RC"
)
check "the copy job ends in a fatal error" [ "$?" -eq 3 ]
check "its report was written" contains "$WORK/stowline.err" "Severity:    Fatal"

# ---- a copy keeps each file's own mode ----
echo "shown" >"$WORK/modes/shown.txt"
echo "private" >"$WORK/modes/private.txt"
chmod 644 "$WORK/modes/shown.txt"
chmod 600 "$WORK/modes/private.txt"
write_job -p Modes "$TARGET/" "$WORK/modes/" "StartTime=$QUIET" Compress=0
run /RUN Modes /EXIT
check "the copy job succeeds" [ "$RC" -eq 0 ]
check "a 0644 file is copied 0644" [ "$(mode_of "$TARGET/modes/shown.txt")" = 644 ]
check "a 0600 file is copied 0600" [ "$(mode_of "$TARGET/modes/private.txt")" = 600 ]

# ---- the preferences, written when the headless agent ends ----
start_agent
stop_agent

# ---- modes ----
check "the archive is 0600" [ "$(mode_of "$TARGET/Secret.zip")" = 600 ]
check "the log is 0600" [ "$(mode_of "$WORK/stowline.log")" = 600 ]
check "the older log's lines are kept" contains "$WORK/stowline.log" "an older line"
check "every line was logged" contains "$WORK/stowline.log" "+-- private.txt"
check "the error report is 0600" [ "$(mode_of "$WORK/stowline.err")" = 600 ]
check "the archive-flag store is 0600" [ "$(mode_of "$WORK/ArchiveFlags.db")" = 600 ]
for f in "$WORK"/ArchiveFlags.db-*; do
    [ -e "$f" ] && check "$(basename "$f") is 0600" [ "$(mode_of "$f")" = 600 ]
done
check "the preferences are 0600" [ "$(mode_of "$WORK/Stowline.txt")" = 600 ]
check "the job file is 0600" [ "$(mode_of "$JOBS/Secret.slj")" = 600 ]
check "the lock folder is 0700" [ "$(mode_of "$JOBS/.locks")" = 700 ]
check "the lock file is 0600" [ "$(mode_of "$JOBS/.locks/Secret.slj")" = 600 ]

# ---- the password, nowhere but in its job files ----
# Every file under the work folder but the job files that hold it and the program itself: the
# logs, the error report, the store, the preferences, the target (the archive too: encryption
# never writes the password) and all the commands recorded.
check "the job file holds the password scrambled (the search finds it)" \
    env JOB_PASSWORD="$PASSWORD" python3 - "$JOBS/Secret.slj" <<'PY'
import os, sys
scrambled = bytes(b ^ 0xA5 for b in os.environ["JOB_PASSWORD"].encode())
sys.exit(0 if scrambled in open(sys.argv[1], "rb").read() else 1)
PY
env JOB_PASSWORD="$PASSWORD" python3 - "$WORK" "$JOBS" "$S" >"$WORK/found" <<'PY'
import os, sys
work, jobs, program = sys.argv[1:4]
plain = os.environ["JOB_PASSWORD"].encode()
scrambled = bytes(b ^ 0xA5 for b in plain)
forms = [plain, scrambled, scrambled.hex().encode(), scrambled.hex().upper().encode(), plain.hex().encode()]
for folder, _, names in os.walk(work):
    for name in names:
        path = os.path.join(folder, name)
        if path == program or (os.path.dirname(path) == jobs and name.endswith(".slj")):
            continue
        try:
            data = open(path, "rb").read()
        except OSError:
            continue
        if any(f in data for f in forms):
            print(path)
PY
check "the password is in no other file" is_empty "$WORK/found"
[ -s "$WORK/found" ] && sed 's/^/       found in: /' "$WORK/found"
# The commands inherit no open file of stowline's: no job file, log, store or archive.
check "the commands inherit none of stowline's open files" \
    [ -z "$(grep -hE "$JOBS|$TARGET|$WORK/stowline\.|ArchiveFlags" "$REC"/*.fds)" ]

# ---- the job folder, made again by the run's record when it went ----
write_job -p Again "$TARGET/" "$WORK/modes/" "StartTime=$QUIET" Compress=-1 "PreBackupCommand=mv $JOBS $WORK/jobs-aside"
run /RUN Again /EXIT
check "the run records itself in a new job folder" [ -f "$JOBS/Again.slj" ]
check "the job folder it made is 0700" [ "$(mode_of "$JOBS")" = 700 ]
check "the job file it made is 0600" [ "$(mode_of "$JOBS/Again.slj")" = 600 ]
check "its archive is 0600" [ "$(mode_of "$TARGET/Again.zip")" = 600 ]

cli_end
