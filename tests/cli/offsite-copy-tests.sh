#!/usr/bin/env bash
# Off-site copies of copy-style jobs through the real program against real servers on the
# loopback address (rclone serve sftp and rclone serve webdav, with a user and password, reached
# through a test rclone config): the job's tree goes to <remote>/<job>/current/ byte for byte
# (the program's own temporary names left out, names that look like options sent as names);
# changed and deleted files move to versions/<stamp>/; version folders older than OffsiteKeepDays
# go, newer ones and foreign names stay. A server killed during an upload, or at any of several
# moments of the off-site step, leaves no partial object in current/ or versions/, the local copy
# whole and /RUN exit 1, and the next run completes the remote, also when what an interrupted run
# staged no longer fits the tree. Over a crypt remote the server's disk holds neither names nor
# contents in the clear, the copy is checked by the hashes of the encrypted files (by size over a
# remote without hashes), and rclone reads back the tree. Symbolic links travel as rclone link
# files; empty folders arrive; a wrong password changes nothing on the remote or in the record.
# Usage: offsite-copy-tests.sh <path-to-stowline>
set -u

if ! command -v rclone >/dev/null 2>&1; then
    echo "skipped: rclone is not installed"
    exit 77
fi

. "$(dirname "$0")/cli-common.sh"
cli_begin offsite-copy "$@"

. "$(dirname "$0")/offsite-common.sh"
DAV_PID=
trap 'stop_server; [ -n "$DAV_PID" ] && kill "$DAV_PID" && wait "$DAV_PID"; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT

DAV_PORT=$(free_port)
DAV_ROOT="$WORK/davserver"
mkdir -p "$DAV_ROOT"
# The WebDAV server too lists its folder afresh each time.
{ nas_section; printf '%s\n' \
    "[dav]" "type = webdav" "url = http://127.0.0.1:$DAV_PORT/" "vendor = other" "user = stow" \
    "pass = $(rclone obscure 'dav pass')" \
    "[vault]" "type = crypt" "remote = nas:sealed" "password = $(rclone obscure 'crypt words')" \
    "[davvault]" "type = crypt" "remote = dav:sealed" "password = $(rclone obscure 'crypt words')"; } >"$WORK/rclone.conf"
export RCLONE_CONFIG="$WORK/rclone.conf"
start_server || exit 1
rclone serve webdav --dir-cache-time 0s --addr "127.0.0.1:$DAV_PORT" --user stow --pass 'dav pass' "$DAV_ROOT" >>"$WORK/dav.log" 2>&1 &
DAV_PID=$!
wait_for listening "$DAV_PORT" || { echo "the WebDAV server did not start" >&2; exit 1; }

failure_logged() { grep -qaE "^.{0,40}  Off-site copy to '$1' failed: .+" "$WORK/stowline.log"; }
# The tree and a remote folder hold the same files, byte for byte (the program's own names aside).
same_tree() { diff -r -x '.stowline-*' "$1" "$2" >"$WORK/diff" 2>&1; }
# Every file under a server folder is byte-equal to the file of that name in one of two local
# trees (the tree as of the last success, and the new one).
whole_files() { # server folder, tree, other tree
    local f
    while IFS= read -r -d '' f; do
        cmp -s "$f" "$2/${f#"$1"/}" || cmp -s "$f" "$3/${f#"$1"/}" || return 1
    done < <(find "$1" -type f -print0)
}
staged_nothing() { [ -z "$(find "$1/.staging" -type f 2>/dev/null)" ]; }

SRC="$WORK/data"
mkdir -p "$SRC/sub dir"
head -c 200000 /dev/urandom >"$SRC/noise.bin"
printf 'keep me\n' >"$SRC/sub dir/same.txt"
printf 'first\n' >"$SRC/edit.txt"
printf 'going\n' >"$SRC/gone.txt"
printf 'dash\n' >"$SRC/-rf"
printf 'option\n' >"$SRC/--config=x"
printf 'wide\n' >"$SRC/sub dir/ünï €.txt"
mkdir "$SRC/empty"

# ---- first run: the tree goes to current/, byte-equal ----
write_job -m cj "$WORK/tcj/" "$SRC/" Compress=0 KeepCount=1 "OffsiteRemote=nas:backups" "OffsiteKeepDays=3"
CUR="$REMOTE_ROOT/backups/cj/current"
# Another job's temporary folder in the same target is none of this job's tree.
mkdir -p "$WORK/tcj/.stowline-tmp-other"
echo half >"$WORK/tcj/.stowline-tmp-other/half.bin"
run /RUN cj /EXIT
check "first run succeeded with its off-site copy" [ "$RC" -eq 0 ]
check "current/ holds the tree byte for byte" same_tree "$WORK/tcj" "$CUR"
check "names that look like options arrive as names" cmp "$SRC/--config=x" "$CUR/data/--config=x"
check "an empty folder arrives too" [ -d "$CUR/data/empty" ]
check "the program's own temporary folder is not sent" [ ! -e "$CUR/.stowline-tmp-other" ]
check "the copy was checked by hash" contains "$WORK/stowline.log" "  Off-site copy checked by MD5"
check "nothing is left staged" staged_nothing "$REMOTE_ROOT/backups/cj"
check "no version folder yet" [ ! -e "$REMOTE_ROOT/backups/cj/versions" ]
check "the job records the off-site success" grep -qaE '^OffsiteLastSuccess=[0-9]{2}/[0-9]{2}/[0-9]{4} ' \
    "$JOBS/cj.slj"
check "no failure was logged" lacks "$WORK/stowline.log" "Off-site copy to"

# ---- a wrong password: the run says so, exits 1, and records no off-site success ----
printf '%s\n' "[nas]" "type = sftp" "host = 127.0.0.1" "port = $PORT" "user = stow" \
    "pass = $(rclone obscure 'wrong pass')" >"$WORK/wrong.conf"
LAST=$(key_of cj OffsiteLastSuccess)
: >"$WORK/stowline.log"
RCLONE_CONFIG="$WORK/wrong.conf" run /RUN cj /EXIT
check "wrong password: /RUN exits 1" [ "$RC" -eq 1 ]
check "wrong password: the failure is logged with the server's refusal" grep -qaE \
    "^.{0,40}  Off-site copy to 'nas:backups' failed: .*unable to authenticate" "$WORK/stowline.log"
check "wrong password: the recorded off-site success stays as it was" [ "$(key_of cj OffsiteLastSuccess)" = "$LAST" ]
check "wrong password: current/ is untouched" same_tree "$WORK/tcj" "$CUR"

# ---- a changed and a deleted file: old contents under versions/<stamp>/ ----
printf 'second, longer\n' >"$SRC/edit.txt"
rm "$SRC/gone.txt"
printf 'new\n' >"$SRC/sub dir/new.txt"
sleep 1 # a version stamp of its own
run /RUN cj /EXIT
check "second run succeeded" [ "$RC" -eq 0 ]
check "current/ matches the changed tree" same_tree "$WORK/tcj" "$CUR"
check "the deleted file left current/" [ ! -e "$CUR/data/gone.txt" ]
VERSIONS=$(find "$REMOTE_ROOT/backups/cj/versions" -mindepth 1 -maxdepth 1 -type d 2>/dev/null)
check "one version folder, named by the moment" \
    sh -c "[ \$(echo '$VERSIONS' | grep -cE '/[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}\$') -eq 1 ]"
check "it holds the changed file's old contents" grep -qx first "$VERSIONS/data/edit.txt"
check "and the deleted file" grep -qx going "$VERSIONS/data/gone.txt"
check "and nothing unchanged" [ "$(find "$VERSIONS" -type f | wc -l)" -eq 2 ]
check "nothing is left staged after the second run" staged_nothing "$REMOTE_ROOT/backups/cj"

# ---- version folders older than OffsiteKeepDays (3) go; newer ones and foreign names stay ----
V="$REMOTE_ROOT/backups/cj/versions"
mkdir -p "$V/2020-01-01_000000/data" "$V/$(date -d '-1 day' +%Y-%m-%d_%H%M%S)" "$V/notes" "$V/2020-01-01"
echo old >"$V/2020-01-01_000000/data/edit.txt"
echo recent >"$V/$(date -d '-1 day' +%Y-%m-%d_%H%M%S)/x"
echo mine >"$V/notes/x"
echo mine >"$V/2020-01-01/x"
RECENT=$(date -d '-1 day' +%Y-%m-%d_%H%M%S)
run /RUN cj /EXIT
check "third run succeeded" [ "$RC" -eq 0 ]
check "the version folder older than the kept days is gone" [ ! -e "$V/2020-01-01_000000" ]
check "a newer version folder stays" [ -e "$V/$RECENT/x" ]
check "the previous run's version folder stays" [ -e "$VERSIONS/data/edit.txt" ]
check "folders of other names stay" [ -e "$V/notes/x" ] && [ -e "$V/2020-01-01/x" ]

# ---- what an interrupted run staged but the tree no longer has, or no longer has so ----
# A stale copy of an unchanged file, and a file the tree never had.
mkdir -p "$REMOTE_ROOT/backups/cj/.staging/data/sub dir"
printf 'stale\n' >"$REMOTE_ROOT/backups/cj/.staging/data/sub dir/same.txt"
printf 'ghost\n' >"$REMOTE_ROOT/backups/cj/.staging/data/ghost.txt"
printf 'third\n' >"$SRC/edit.txt"
run /RUN cj /EXIT
check "a run after stale staging succeeded" [ "$RC" -eq 0 ]
check "current/ is the tree, not what was staged" same_tree "$WORK/tcj" "$CUR"
check "nothing is left staged after it" staged_nothing "$REMOTE_ROOT/backups/cj"

# ---- the server killed in the middle of an upload (slowed by the bandwidth preference) ----
cp -a "$WORK/tcj" "$WORK/before"
head -c 3000000 /dev/urandom >"$SRC/big.bin"
printf 'fourth\n' >"$SRC/edit.txt"
printf '%s\r\n' "[Preferences]" "OffsiteBandwidth=400k" >"$WORK/Stowline.txt"
: >"$WORK/stowline.log"
# rclone's own retries against a dead server take minutes with many files: one each here.
uploading() { [ -n "$(find "$REMOTE_ROOT/backups/cj" -name big.bin -size +1k 2>/dev/null)" ]; }
kill_server_during_run cj RCLONE_RETRIES=1 RCLONE_LOW_LEVEL_RETRIES=1
check "killed server: /RUN exits 1" [ "$RC" -eq 1 ]
check "killed server: the failure is logged" failure_logged nas:backups
check "killed server: the local copy is whole" cmp "$SRC/big.bin" "$WORK/tcj/data/big.bin"
check "killed server: current/ holds no partial file" whole_files "$CUR" "$WORK/before" "$WORK/tcj"
check "killed server: the big file is not in current/" [ ! -e "$CUR/data/big.bin" ]
check "killed server: no version holds it" [ -z "$(find "$V" -name big.bin)" ]
check "killed server: no off-site success is recorded for this run" lacks "$WORK/stowline.log" \
    "  Off-site copy 'nas:backups/cj/current'"
rm "$WORK/Stowline.txt"

start_server
run /RUN cj /EXIT
check "the next run completes the remote" [ "$RC" -eq 0 ]
check "current/ is the tree again" same_tree "$WORK/tcj" "$CUR"
check "nothing is left staged after the catch-up" staged_nothing "$REMOTE_ROOT/backups/cj"

# ---- the server killed at many moments of a run: every file in current/ and versions/ is whole ----
# Each round changes every file, then kills the server a little later into the run; a file on the
# remote must be byte-equal to that file in one of the trees the rounds made.
KS="$WORK/kdata"
mkdir -p "$KS"
write_job -m kj "$WORK/tkj/" "$KS/" Compress=0 KeepCount=1 "OffsiteRemote=nas:backups"
KCUR="$REMOTE_ROOT/backups/kj"
round_tree() { # 1 for the first tree (with a file later deleted), else new contents
    local f
    for f in a b c d e; do head -c 400000 /dev/urandom >"$KS/$f.bin"; done
    [ "$1" -gt 1 ] && rm -f "$KS/once.bin"
    [ "$1" -eq 1 ] && head -c 100000 /dev/urandom >"$KS/once.bin"
}
snapshot() { mkdir "$WORK/snap.$1" && cp -a "$KS" "$WORK/snap.$1/kdata"; } # as the target lays it out
# Every file under a server folder is byte-equal to the file at its place in some snapshot.
in_some_snapshot() { # server folder, "stamp" when its files lie in stamp folders
    local f rel s
    while IFS= read -r -d '' f; do
        rel=${f#"$1"/}
        [ "$2" = stamp ] && rel=${rel#*/}
        for s in "$WORK"/snap.*; do cmp -s "$f" "$s/$rel" && continue 2; done
        echo "not whole: $f" >&2
        return 1
    done < <(find "$1" -type f -print0 2>/dev/null)
}
round_tree 1
snapshot 0
run /RUN kj /EXIT
check "kill rounds: the first run succeeded" [ "$RC" -eq 0 ]
printf '%s\r\n' "[Preferences]" "OffsiteBandwidth=512k" >"$WORK/Stowline.txt"
KILLED=0
for round in 1 2 3 4 5; do
    round_tree 2
    snapshot "$round"
    RCLONE_RETRIES=1 RCLONE_LOW_LEVEL_RETRIES=1 timeout "$RUN_TIMEOUT" "$S" /RUN kj /EXIT >"$WORK/out" 2>"$WORK/err" &
    RUN_PID=$!
    # From the survey of the remote, through the upload, to the moves into current/.
    sleep "$(echo "$round" | awk '{ print 0.2 + ($1 - 1) * 0.6 }')"
    stop_server KILL
    wait "$RUN_PID"
    RC=$?
    # A kill after the last rclone command ended leaves a run that succeeded: then current/ is
    # the tree.
    if [ "$RC" -eq 0 ]; then
        check "kill round $round: the run ended first, current/ is the tree" same_tree "$WORK/tkj" "$KCUR/current"
    else
        KILLED=$((KILLED + 1))
        check "kill round $round: /RUN exits 1" [ "$RC" -eq 1 ]
    fi
    check "kill round $round: the local copy is whole" diff -r "$KS" "$WORK/tkj/kdata"
    check "kill round $round: current/ holds only whole files" in_some_snapshot "$KCUR/current" plain
    check "kill round $round: versions/ holds only whole files" in_some_snapshot "$KCUR/versions" stamp
    start_server
done
rm "$WORK/Stowline.txt"
check "kill rounds: most kills landed in a run" [ "$KILLED" -ge 3 ]
run /RUN kj /EXIT
check "kill rounds: the next run completes the remote" [ "$RC" -eq 0 ]
check "kill rounds: current/ is the tree" same_tree "$WORK/tkj" "$KCUR/current"
check "kill rounds: nothing is left staged" staged_nothing "$KCUR"

# ---- symbolic links travel as rclone's link files and come back as links ----
LS="$WORK/ldata"
mkdir -p "$LS"
echo target >"$LS/file.txt"
ln -s file.txt "$LS/near"
ln -s /nowhere/at/all "$LS/dangling"
write_job -m lk "$WORK/tlk/" "$LS/" Compress=0 KeepCount=1 "OffsiteRemote=nas:backups"
run /RUN lk /EXIT
check "links: the run succeeded" [ "$RC" -eq 0 ]
check "links: the copy keeps them as links" [ -L "$WORK/tlk/ldata/near" ]
check "links: the remote holds a link file for each" \
    grep -qx file.txt "$REMOTE_ROOT/backups/lk/current/ldata/near.rclonelink"
check "links: also for one that leads nowhere" [ -f "$REMOTE_ROOT/backups/lk/current/ldata/dangling.rclonelink" ]
rclone copy --links nas:backups/lk/current "$WORK/lback" 2>>"$WORK/rclone-err"
check "links: read back as the same links" [ "$(readlink "$WORK/lback/ldata/near")" = file.txt ] && \
    [ "$(readlink "$WORK/lback/ldata/dangling")" = /nowhere/at/all ]

# ---- a WebDAV remote: no hash in common, so checked by size ----
write_job -m dv "$WORK/tdv/" "$SRC/" Compress=0 KeepCount=1 "OffsiteRemote=dav:store"
: >"$WORK/stowline.log"
run /RUN dv /EXIT
check "WebDAV: the run succeeded" [ "$RC" -eq 0 ]
check "WebDAV: current/ holds the tree byte for byte" same_tree "$WORK/tdv" "$DAV_ROOT/store/dv/current"
check "WebDAV: checked by size" contains "$WORK/stowline.log" "  Off-site copy checked by size"

# ---- a crypt remote over the SFTP one ----
write_job -m sealed "$WORK/tsealed/" "$SRC/" Compress=0 KeepCount=1 "OffsiteRemote=vault:backups"
printf 'a plain marker line\n' >"$WORK/marker.txt"
cp "$WORK/marker.txt" "$SRC/sub dir/marker.txt"
run /RUN sealed /EXIT
check "crypt: the run succeeded" [ "$RC" -eq 0 ]
check "crypt: checked by the hashes of the encrypted files" contains "$WORK/stowline.log" \
    "  Off-site copy checked by the hashes of the encrypted files"
check "crypt: the server holds files" [ -n "$(find "$REMOTE_ROOT/sealed" -type f)" ]
check "crypt: no name is readable on the server" \
    sh -c "! find '$REMOTE_ROOT/sealed' | grep -qE 'sealed/.*(current|versions|data|noise|marker|sub dir)'"
check "crypt: no contents are readable on the server" sh -c "! grep -rqF 'a plain marker line' '$REMOTE_ROOT/sealed'"
rclone copy --create-empty-src-dirs vault:backups/sealed/current "$WORK/back" 2>>"$WORK/rclone-err"
check "crypt: rclone reads the tree back byte for byte" same_tree "$WORK/tsealed" "$WORK/back"

# Over a remote that keeps no hashes (WebDAV) the encrypted copy is checked by size.
write_job -m dsealed "$WORK/tdsealed/" "$SRC/" Compress=0 KeepCount=1 "OffsiteRemote=davvault:backups"
: >"$WORK/stowline.log"
run /RUN dsealed /EXIT
check "crypt over WebDAV: the run succeeded" [ "$RC" -eq 0 ]
check "crypt over WebDAV: checked by size" contains "$WORK/stowline.log" "  Off-site copy checked by size"
rclone copy --create-empty-src-dirs davvault:backups/dsealed/current "$WORK/dback" 2>>"$WORK/rclone-err"
check "crypt over WebDAV: rclone reads the tree back byte for byte" same_tree "$WORK/tdsealed" "$WORK/dback"

cli_end
