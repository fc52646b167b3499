#!/usr/bin/env bash
# Off-site copies through the real program against a real SFTP server on the loopback address
# (rclone serve sftp, with a user and password, reached through a test rclone config): every
# successful run of a zip job with OffsiteRemote uploads its archive under a dated name, byte-equal,
# never leaving a temporary name; the remote keeps what the job keeps locally (by count, or by age
# for a dated job) and nothing of another name is touched. A wrong password, rclone missing from
# PATH, a server that is down or killed during the upload, and a full remote leave the local
# backup whole and no partial object under a final name, log the failure, make /RUN exit 1 and
# record no off-site success; the next run with the server back completes the remote.
# Usage: offsite-tests.sh <path-to-stowline>
set -u

if ! command -v rclone >/dev/null 2>&1; then
    echo "skipped: rclone is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin offsite "$@"

. "$(dirname "$0")/offsite-common.sh"
FULL_MOUNT=
trap 'stop_server; [ -n "$FULL_MOUNT" ] && umount "$FULL_MOUNT"; rm -rf "$WORK"' EXIT

nas_section >"$WORK/rclone.conf"
nas_section 'wrong pass' >"$WORK/wrong.conf"
export RCLONE_CONFIG="$WORK/rclone.conf"
start_server || exit 1

dated() { # the job's dated archives on the remote, oldest first
    find "$REMOTE_ROOT/backups/$1" -maxdepth 1 -type f -regextype posix-extended \
        -regex ".*/$1_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}\.zip" -printf '%f\n' 2>/dev/null | sort
}
no_partial() { [ -z "$(find "$REMOTE_ROOT" -name '*.partial')" ]; }
nth_newest() { dated "$1" | tail -n "$2" | head -n 1; }
failure_logged() { grep -qaE "^.{0,40}  Off-site copy to 'nas:backups' failed: .+" "$WORK/stowline.log"; }
log_lines() { wc -l <"$WORK/stowline.log"; }

SRC="$WORK/data"
mkdir -p "$SRC"
head -c 200000 /dev/urandom >"$SRC/noise.bin"
edit_source() { printf 'run %s\n' "$1" >>"$SRC/notes.txt"; }

# ---- uploads and retention by count: the job keeps its newest archive and two older copies ----
write_job -m main "$WORK/tmain/" "$SRC/" KeepCount=2 KeepPeriod=Copies "OffsiteRemote=nas:backups"
# Objects already on the remote are put there through the server, as the server sees them.
put() { echo "$2" | rclone rcat "nas:backups/$1"; }
# What a killed upload left behind: a temporary name, which the next run removes.
put main/.main_2020-01-01_000000.zip.partial partial
for i in 1 2 3 4; do
    edit_source "$i"
    run /RUN main /EXIT
    check "run $i succeeded with its off-site copy" [ "$RC" -eq 0 ]
done
check "the remote keeps exactly three dated archives" [ "$(dated main | wc -l)" -eq 3 ]
check "the newest is the local archive, byte for byte" cmp "$WORK/tmain/main.zip" \
    "$REMOTE_ROOT/backups/main/$(nth_newest main 1)"
check "the next is the first older copy" cmp "$WORK/tmain/main_1.zip" "$REMOTE_ROOT/backups/main/$(nth_newest main 2)"
check "the oldest kept is the second older copy" cmp "$WORK/tmain/main_2.zip" \
    "$REMOTE_ROOT/backups/main/$(nth_newest main 3)"
check "no temporary name is left on the remote" no_partial
check "nothing else is in the job's remote folder" [ "$(find "$REMOTE_ROOT/backups/main" -type f | wc -l)" -eq 3 ]
check "the upload was checked by hash" contains "$WORK/stowline.log" "  Off-site copy checked by MD5"
check "the job records the off-site success" grep -qaE '^OffsiteLastSuccess=[0-9]{2}/[0-9]{2}/[0-9]{4} ' \
    "$JOBS/main.slj"
check "no failure was logged" sh -c "! grep -qa 'Off-site copy to' '$WORK/stowline.log'"

# ---- a job without the key uploads nothing ----
write_job -m plain "$WORK/tplain/" "$SRC/" KeepCount=1 KeepPeriod=Copies
run /RUN plain /EXIT
check "a job without a remote runs as before" [ "$RC" -eq 0 ]
check "and sends nothing" [ ! -e "$REMOTE_ROOT/backups/plain" ]
check "and its file gets no off-site key" lacks "$JOBS/plain.slj" "Offsite"

# ---- retention by age: a dated job keeps one day; older and foreign objects ----
write_job -m daily "$WORK/tdaily/" "$SRC/" KeepCount=1 KeepPeriod=Days "OffsiteRemote=nas:backups/"
put daily/daily_2020-01-01_000000.zip old
put daily/notes.txt mine
put daily/dailyx_2020-01-01_000000.zip other
run /RUN daily /EXIT
check "the dated job's run succeeded" [ "$RC" -eq 0 ]
check "the archive older than the kept age is gone" [ ! -e "$REMOTE_ROOT/backups/daily/daily_2020-01-01_000000.zip" ]
check "a file of another name stays" [ -e "$REMOTE_ROOT/backups/daily/notes.txt" ]
check "another job's archive stays" [ -e "$REMOTE_ROOT/backups/daily/dailyx_2020-01-01_000000.zip" ]
check "the new dated archive is the local one" cmp "$(ls "$WORK"/tdaily/daily_*.zip)" \
    "$REMOTE_ROOT/backups/daily/$(nth_newest daily 1)"

# ---- failures: the local backup stands, the run says so and exits 1 ----
# A job that never had an off-site success, so that none may appear in its file.
write_job -m lone "$WORK/tlone/" "$SRC/" KeepCount=1 KeepPeriod=Copies "OffsiteRemote=nas:backups"
expect_failure() { # what, then how to run
    local what=$1
    shift
    rm -f "$WORK/tlone/lone.zip"
    : >"$WORK/stowline.log"
    "$@"
    check "$what: /RUN exits 1" [ "$RC" -eq 1 ]
    check "$what: the failure is logged with rclone's reason" failure_logged
    check "$what: the local archive is whole" unzip -tqq "$WORK/tlone/lone.zip"
    check "$what: the local run is recorded as a success" grep -qa '^DateLastSuccess=' "$JOBS/lone.slj"
    check "$what: no off-site success is recorded" lacks "$JOBS/lone.slj" "OffsiteLastSuccess"
    check "$what: nothing reached the remote" [ -z "$(dated lone)" ]
    check "$what: no temporary name is left" no_partial
}
wrong_password() { RCLONE_CONFIG="$WORK/wrong.conf" run /RUN lone /EXIT; }
expect_failure "wrong password" wrong_password
check "the reason is the server's refusal" contains "$WORK/stowline.log" "unable to authenticate"

mkdir -p "$WORK/bin"
ln -s "$(command -v timeout)" "$WORK/bin/timeout"
no_rclone() { PATH="$WORK/bin" run /RUN lone /EXIT; }
expect_failure "rclone missing" no_rclone
check "the reason names rclone missing" contains "$WORK/stowline.log" "rclone is not installed (not found in PATH)"

stop_server
expect_failure "server down" run /RUN lone /EXIT

# A remote that rclone would take for one of its options is refused, not passed on.
write_job -m dash "$WORK/tdash/" "$SRC/" KeepCount=1 KeepPeriod=Copies "OffsiteRemote=--config=/dev/null"
run /RUN dash /EXIT
check "an option for a remote: /RUN exits 1" [ "$RC" -eq 1 ]
check "an option for a remote: refused" contains "$WORK/stowline.log" \
    "  Off-site copy to '--config=/dev/null' failed: not an rclone remote path"
check "an option for a remote: the local archive is whole" unzip -tqq "$WORK/tdash/dash.zip"

# ---- with the server back, a copy-style job sends its tree to current/ in its remote folder ----
start_server
write_job -m copyjob "$WORK/tcopy/" "$SRC/" KeepCount=1 KeepPeriod=Copies "OffsiteRemote=nas:backups"
sed -i 's/^Compress=-1\r$/Compress=0\r/' "$JOBS/copyjob.slj"
: >"$WORK/stowline.log"
run /RUN copyjob /EXIT
check "a copy-style job: /RUN exits 0" [ "$RC" -eq 0 ]
check "a copy-style job: the local copy is made" cmp "$SRC/noise.bin" "$WORK/tcopy/data/noise.bin"
check "a copy-style job: the remote holds it" cmp "$SRC/noise.bin" "$REMOTE_ROOT/backups/copyjob/current/data/noise.bin"
check "a copy-style job: no failure is logged" lacks "$WORK/stowline.log" "Off-site copy to"

# ---- the server killed in the middle of an upload (slowed down by rclone's own limit) ----
BIG="$WORK/big"
mkdir -p "$BIG"
head -c 3000000 /dev/urandom >"$BIG/noise.bin"
write_job -m big "$WORK/tbig/" "$BIG/" KeepCount=1 KeepPeriod=Copies "OffsiteRemote=nas:backups"
: >"$WORK/stowline.log"
uploading() { [ -n "$(find "$REMOTE_ROOT/backups/big" -name '*.partial' -size +1k 2>/dev/null)" ]; }
kill_server_during_run big RCLONE_BWLIMIT=400k
check "killed server: /RUN exits 1" [ "$RC" -eq 1 ]
check "killed server: the failure is logged" failure_logged
check "killed server: the local archive is whole" unzip -tqq "$WORK/tbig/big.zip"
check "killed server: no final name holds a partial object" [ -z "$(dated big)" ]
check "killed server: no off-site success is recorded" lacks "$JOBS/big.slj" "OffsiteLastSuccess"

# ---- the server back: the next run completes the remote ----
start_server
run /RUN big /EXIT
check "after the kill the next run uploads" [ "$RC" -eq 0 ]
check "the remote holds the one archive, whole" cmp "$WORK/tbig/big.zip" "$REMOTE_ROOT/backups/big/$(nth_newest big 1)"
check "the interrupted upload's temporary name is gone" no_partial
edit_source 5
run /RUN main /EXIT
check "with the server back the run succeeds" [ "$RC" -eq 0 ]
check "the remote still keeps exactly three" [ "$(dated main | wc -l)" -eq 3 ]
check "the newest is again the local archive" cmp "$WORK/tmain/main.zip" "$REMOTE_ROOT/backups/main/$(nth_newest main 1)"
run /RUN lone /EXIT
check "the job that failed before now succeeds" [ "$RC" -eq 0 ]
check "and uploads its archive" cmp "$WORK/tlone/lone.zip" "$REMOTE_ROOT/backups/lone/$(nth_newest lone 1)"
check "and records its off-site success" contains "$JOBS/lone.slj" "OffsiteLastSuccess="

# ---- a remote that is full: a 1 MiB file system for the 3 MB archive (root only) ----
if [ "$(id -u)" -eq 0 ]; then
    rclone mkdir nas:full
    if mount -t tmpfs -o size=1m tmpfs "$REMOTE_ROOT/full"; then
        FULL_MOUNT="$REMOTE_ROOT/full"
        write_job -m bigfull "$WORK/tbigfull/" "$BIG/" KeepCount=1 KeepPeriod=Copies "OffsiteRemote=nas:full"
        : >"$WORK/stowline.log"
        run /RUN bigfull /EXIT
        check "remote full: /RUN exits 1" [ "$RC" -eq 1 ]
        check "remote full: the failure is logged" grep -qaF "  Off-site copy to 'nas:full' failed: " \
            "$WORK/stowline.log"
        check "remote full: the local archive is whole" unzip -tqq "$WORK/tbigfull/bigfull.zip"
        check "remote full: no final name holds a partial object" \
            [ -z "$(find "$REMOTE_ROOT/full" -name 'bigfull_*.zip')" ]
        check "remote full: no off-site success is recorded" lacks "$JOBS/bigfull.slj" "OffsiteLastSuccess"
    else
        echo "skipped: the full remote (no tmpfs could be mounted)"
    fi
else
    echo "skipped: the full remote (needs root for a small tmpfs)"
fi

cli_end
