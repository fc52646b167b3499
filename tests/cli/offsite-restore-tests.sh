#!/usr/bin/env bash
# Restores from the off-site copy through the real program against a real SFTP server on the
# loopback address (rclone serve sftp, with a user and password, reached through a test rclone
# config): "/RESTORE <job> /FROM <remote>:<path>" downloads a remote archive (or a copy job's
# current/ tree) into the job's temporary folder, restores it byte-equal and removes the download;
# a hostile archive on the remote is refused as the same archive is refused locally; a server
# killed during the download is an error exit with nothing restored and no download left; a crypt
# remote over the SFTP one restores too. /VERIFY of a job with a remote holds the newest remote
# backup to the local one and fails when it differs or cannot be read.
# With the GUI test program, the restore window's remote rows are driven against the same server.
# Usage: offsite-restore-tests.sh <path-to-stowline> [<path-to-test_gui>]
set -u

if ! command -v rclone >/dev/null 2>&1; then
    echo "skipped: rclone is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
GUI_TESTS=${2:-}
cli_begin offrestore "$1"

. "$(dirname "$0")/offsite-common.sh"
trap 'stop_server KILL; rm -rf "$WORK"' EXIT

# The SFTP remote, and a crypt remote that keeps its objects (names and contents encrypted) in
# the SFTP remote's folder "vault".
{ nas_section; printf '%s\n' "" "[secret]" "type = crypt" "remote = nas:vault" \
    "password = $(rclone obscure 'vault words')"; } >"$WORK/rclone.conf"
export RCLONE_CONFIG="$WORK/rclone.conf"
start_server || exit 1

newest_remote() { # the newest dated archive of a job on the SFTP server
    find "$REMOTE_ROOT/backups/$1" -maxdepth 1 -type f -name "$1_*.zip" -printf '%f\n' 2>/dev/null | sort | tail -1
}
no_download() { [ -z "$(find "$1" -name '.stowline-download-*' 2>/dev/null)" ]; }

SRC="$WORK/data"
SRC_REL=${SRC#/}
mkdir -p "$SRC/sub dir/deeper"
head -c 300000 /dev/urandom >"$SRC/noise.bin"
printf 'plain words for the restore\n' >"$SRC/notes.txt"
printf 'below\n' >"$SRC/sub dir/deeper/leaf.txt"

# ---- a zip job's remote archive restored after the local backups are gone ----
write_job -m docs "$WORK/tdocs/" "$SRC/" Compress=-1 KeepCount=2 "OffsiteRemote=nas:backups"
run /RUN docs /EXIT
check "the job's run uploads its archive" [ "$RC" -eq 0 ] && [ -n "$(newest_remote docs)" ]
rm -f "$WORK"/tdocs/docs*.zip
NAME=$(newest_remote docs)
run /RESTORE docs /FROM "nas:backups/docs/$NAME" /TO "$WORK/back"
check "restore from the remote: exit 0" [ "$RC" -eq 0 ]
check "restore from the remote: the files come back byte-equal" diff -r "$SRC" "$WORK/back/$SRC_REL"
check "restore from the remote: the summary names the remote archive" contains "$WORK/out" \
    "Restore docs from nas:backups/docs/$NAME to $WORK/back"
check "restore from the remote: the download's progress is shown" grep -qE "^Stowline: downloaded [0-9]+ of [0-9]+ bytes \(100%\)$" "$WORK/err"
check "restore from the remote: the download is gone" no_download "$WORK/tdocs"
check "restore from the remote: the temporary folder is gone" [ ! -e "$WORK/tdocs/.stowline-tmp-docs" ]
check "restore from the remote: the log says where the backup came from, checked by hash" grep -qaF \
    "Off-site backup 'nas:backups/docs/$NAME' downloaded into '$WORK/tdocs/.stowline-tmp-docs/.stowline-download-" \
    "$WORK/stowline.log"
check "restore from the remote: ... by MD5" grep -qaE "downloaded into .*\(checked by MD5\)" "$WORK/stowline.log"
check "restore from the remote: the remote archive stays" [ -f "$REMOTE_ROOT/backups/docs/$NAME" ]

# A name that is neither a local file nor on the remote: an error exit naming the download.
run /RESTORE docs /FROM "nas:backups/docs/docs_2001-01-01_000000.zip" /TO "$WORK/none"
check "a remote archive that is not there: exit 1" [ "$RC" -eq 1 ]
check "a remote archive that is not there: says the download failed" grep -qF "download of 'nas:backups/docs/docs_2001-01-01_000000.zip' failed: " "$WORK/err"
check "a remote archive that is not there: nothing restored, no download left" \
    sh -c "[ ! -e '$WORK/none' ] && [ -z \"\$(find '$WORK/tdocs' -name '.stowline-download-*')\" ]"
# A local path of the remote form is still the local file.
cp "$REMOTE_ROOT/backups/docs/$NAME" "$WORK/tdocs/nas:local.zip"
run /RESTORE docs /FROM "nas:local.zip" /TO "$WORK/localform"
check "an existing local file of the remote form is read locally" sh -c \
    "[ $RC -eq 0 ] && grep -qF 'from $WORK/tdocs/nas:local.zip' '$WORK/out'"
rm -f "$WORK/tdocs/nas:local.zip"
# A name that could be no remote is a missing local file, as before.
run /RESTORE docs /FROM "-bad:x.zip" /TO "$WORK/none"
check "a name no remote can have is a missing local file" sh -c "[ $RC -eq 1 ] && grep -qF 'does not exist' '$WORK/err'"
run /RESTORE docs /FROM "sub/nas:x.zip" /TO "$WORK/none"
check "a '/' before the ':' makes a local path" sh -c "[ $RC -eq 1 ] && grep -qF 'does not exist' '$WORK/err'"

# ---- a hostile archive on the remote is refused as the same archive is refused locally ----
mkdir -p "$WORK/outside"
echo keep >"$WORK/outside/sentinel"
OUTSIDE_BEFORE=$(state_of "$WORK/outside")
python3 - "$WORK/hostile.zip" "$SRC_REL" "$WORK" <<'PY'
import sys, zipfile
out, src, work = sys.argv[1:]
def entry(z, name, kind, data=b""):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = {"file": 0o100644, "link": 0o120777}[kind] << 16
    z.writestr(info, data)
with zipfile.ZipFile(out, "w") as z:
    entry(z, src + "/fine.txt", "file", b"fine\n")
    entry(z, src + "/../../../outside/dotdot.txt", "file", b"x")
    entry(z, "../outside/up.txt", "file", b"x")
    entry(z, work + "/outside/absolute.txt", "file", b"x")
    entry(z, src + "/ln", "link", (work + "/outside").encode())
    entry(z, src + "/ln/through.txt", "file", b"x")
PY
HOSTILE=docs_2030-01-01_000000.zip
rclone copyto "$WORK/hostile.zip" "nas:backups/docs/$HOSTILE"
cp "$WORK/hostile.zip" "$WORK/tdocs/hostile-local.zip"
for where in local remote; do
    from="$WORK/tdocs/hostile-local.zip"
    [ "$where" = remote ] && from="nas:backups/docs/$HOSTILE"
    mkdir -p "$WORK/h-$where"
    run /RESTORE docs /FROM "$from" /TO "$WORK/h-$where"
    eval "RC_$where=$RC"
    grep -aF "not restored" "$WORK/out" | sed 's/^ *//' >"$WORK/refused-$where"
done
rm -f "$WORK/tdocs/hostile-local.zip"
check "a hostile remote archive: exit 1, as locally" [ "$RC_remote" -eq 1 ] && [ "$RC_local" -eq 1 ]
check "a hostile remote archive: the same entries refused, for the same reasons" \
    cmp "$WORK/refused-local" "$WORK/refused-remote"
check "a hostile remote archive: the '..' names, the absolute name and the link's way are refused" \
    [ "$(grep -c 'not restored: ' "$WORK/refused-remote")" -ge 4 ]
check "a hostile remote archive: the same files written as locally" \
    [ "$(cd "$WORK/h-local" && find . -printf '%p %y %s\n' | sort)" = "$(cd "$WORK/h-remote" && find . -printf '%p %y %s\n' | sort)" ]
check "a hostile remote archive: nothing outside the target touched" [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
check "a hostile remote archive: nothing beside the targets" [ ! -e "$WORK/up.txt" ] && [ ! -e "$WORK/dotdot.txt" ]
check "a hostile remote archive: no download left" no_download "$WORK/tdocs"
rm -f "$REMOTE_ROOT/backups/docs/$HOSTILE"

# ---- the server killed during the download (slowed down by rclone's own limit) ----
BIG="$WORK/big"
mkdir -p "$BIG"
head -c 3000000 /dev/urandom >"$BIG/noise.bin"
write_job -m big "$WORK/tbig/" "$BIG/" Compress=-1 KeepCount=2 "OffsiteRemote=nas:backups"
run /RUN big /EXIT
check "the big job uploads" [ "$RC" -eq 0 ] && [ -n "$(newest_remote big)" ]
rm -f "$WORK"/tbig/big*.zip
RCLONE_BWLIMIT=300k timeout "$RUN_TIMEOUT" "$S" /RESTORE big /FROM "nas:backups/big/$(newest_remote big)" \
    /TO "$WORK/bigback" >"$WORK/out" 2>"$WORK/err" &
RESTORE_PID=$!
# Under way: part of the file is there and rclone's stats have been shown as progress.
big_progress() { grep -qE "^Stowline: downloaded [1-9][0-9]* of 3[0-9]{6} bytes" "$WORK/err"; }
for _ in $(seq 1 300); do
    [ -n "$(find "$WORK/tbig" -name '.stowline-download-*' -size +1k 2>/dev/null)" ] && big_progress && break
    sleep 0.1
done
check "the download was under way, its progress shown" big_progress
stop_server KILL
wait "$RESTORE_PID"
RC=$?
check "killed server: error exit" [ "$RC" -eq 1 ]
check "killed server: the reason names the download" grep -qF "download of 'nas:backups/big/" "$WORK/err"
check "killed server: nothing restored" [ -z "$(find "$WORK/bigback" -type f 2>/dev/null)" ]
check "killed server: no download left" no_download "$WORK/tbig"
start_server

# ---- a crypt remote over the SFTP one ----
write_job -m sec "$WORK/tsec/" "$SRC/" Compress=-1 KeepCount=2 "OffsiteRemote=secret:"
run /RUN sec /EXIT
check "crypt: the run uploads" [ "$RC" -eq 0 ]
check "crypt: the server holds no readable name" [ -z "$(find "$REMOTE_ROOT/vault" -name '*sec*')" ] &&
    [ -n "$(find "$REMOTE_ROOT/vault" -type f)" ]
SEC_NAME=$(rclone lsf secret:sec | grep -E '^sec_.*\.zip$' | tail -1)
rm -f "$WORK"/tsec/sec*.zip
run /RESTORE sec /FROM "secret:sec/$SEC_NAME" /TO "$WORK/secback"
check "crypt: restore exit 0" [ "$RC" -eq 0 ]
check "crypt: the files come back byte-equal" diff -r "$SRC" "$WORK/secback/$SRC_REL"
check "crypt: no download left" no_download "$WORK/tsec"

# ---- /VERIFY holds the newest remote archive to the newest local one ----
write_job -m ver "$WORK/tver/" "$SRC/" Compress=-1 KeepCount=2 "OffsiteRemote=nas:backups"
run /RUN ver /EXIT
check "verify: the run uploads" [ "$RC" -eq 0 ]
run /VERIFY ver
check "verify with a matching remote: exit 0" [ "$RC" -eq 0 ]
check "verify with a matching remote: says which check held" grep -qE "off-site: 'nas:backups/ver/ver_.*\.zip' matches '.*ver\.zip' by MD5" "$WORK/out"
check "verify with a matching remote: logged" contains "$WORK/stowline.log" "  Off-site copy checked: "
VER_REMOTE="$REMOTE_ROOT/backups/ver/$(newest_remote ver)"
# One byte changed, the size kept: only the hash can tell.
python3 -c 'import sys; p = sys.argv[1]; b = bytearray(open(p, "rb").read()); b[len(b) // 2] ^= 0xFF; open(p, "wb").write(b)' "$VER_REMOTE"
run /VERIFY ver
check "verify with a changed remote archive: exit 1" [ "$RC" -eq 1 ]
check "verify with a changed remote archive: says what differed" grep -qF "off-site copy: 'nas:backups/ver/" "$WORK/out"
check "verify with a changed remote archive: the hash" grep -qF "the MD5 hashes differ" "$WORK/out"
check "verify with a changed remote archive: logged as a failure" contains "$WORK/stowline.log" "  Verify failed: off-site copy: "
cp "$WORK/hostile.zip" "$VER_REMOTE"
run /VERIFY ver
check "verify with another archive on the remote: exit 1" [ "$RC" -eq 1 ] && contains "$WORK/out" "off-site copy: "
stop_server KILL
run /VERIFY ver
check "verify with the remote unreachable: exit 1" [ "$RC" -eq 1 ] && contains "$WORK/out" "cannot be listed"
start_server
run /VERIFY docs
check "a job with local archives gone fails as before" [ "$RC" -eq 1 ]

# ---- a copy job's current/ tree on the remote ----
write_job -m cjob "$WORK/tcopy/" "$SRC/" Compress=0 KeepCount=2 "OffsiteRemote=nas:backups"
run /RUN cjob /EXIT
check "the copy job's local copy is made" cmp "$SRC/noise.bin" "$WORK/tcopy/data/noise.bin"
# The remote tree as the off-site step lays it out: the job's target tree under current/.
rclone purge nas:backups/cjob 2>/dev/null
rclone copy "$WORK/tcopy" nas:backups/cjob/current
run /VERIFY cjob
check "copy verify with a matching remote: exit 0" [ "$RC" -eq 0 ] && contains "$WORK/out" "off-site: 'nas:backups/cjob/current'"
echo changed | rclone rcat nas:backups/cjob/current/data/notes.txt
run /VERIFY cjob
check "copy verify with a changed remote file: exit 1, naming it" [ "$RC" -eq 1 ] && contains "$WORK/out" "data/notes.txt"
rclone copyto "$WORK/tcopy/data/notes.txt" nas:backups/cjob/current/data/notes.txt
rm -rf "$WORK/tcopy/data"
run /RESTORE cjob /FROM nas:backups/cjob/current /TO "$WORK/copyback"
check "copy tree restore: exit 0" [ "$RC" -eq 0 ]
check "copy tree restore: the files come back byte-equal" diff -r "$SRC" "$WORK/copyback/data"
check "copy tree restore: no download left" no_download "$WORK/tcopy"

# ---- the restore window (offscreen): remote rows, their download, an unreachable remote ----
if [ -n "$GUI_TESTS" ]; then
    write_job -m win "$WORK/twin/" "$SRC/" Compress=-1 KeepCount=2 "OffsiteRemote=nas:backups"
    run /RUN win /EXIT
    export STOWLINE_OFFSITE_TO="$WORK/winback"
    gui() { # variable=value for the test, then the filter
        env "$1" QT_QPA_PLATFORM=offscreen timeout 300 "$GUI_TESTS" --gtest_filter="$2" >"$WORK/gui.out" 2>&1
        local grc=$?
        [ "$grc" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$WORK/gui.out" && return 0
        tail -30 "$WORK/gui.out"
        return 1
    }
    check "window: the remote archive is listed, downloaded and restored" \
        gui "STOWLINE_OFFSITE_JOB=$JOBS/win.slj" "OffsiteRestoreWindow.ARemoteArchive*"
    check "window: the restore writes the remote archive's files, byte-equal" diff -r "$SRC" "$WORK/winback/$SRC_REL"
    check "window: no download left" no_download "$WORK/twin"
    stop_server KILL
    check "window: an unreachable remote says so, the local backups stay usable" \
        gui "STOWLINE_OFFSITE_UNREACHABLE_JOB=$JOBS/win.slj" "OffsiteRestoreWindow.AnUnreachable*"
    start_server
fi

cli_end
