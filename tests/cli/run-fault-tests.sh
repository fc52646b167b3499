#!/usr/bin/env bash
# /RUN from outside when things go wrong: job names that make no clean folder name, an
# application folder whose disk is full, and a stop signal in the middle of a Rebuild. Each must
# end as a failed run with its reason told (exit 1), never as a fatal report (exit 3) or a
# success, and must leave what existed before as it was.
# Usage: run-fault-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin faults "$@"
MOUNTED=""
RUN_PID=""
cleanup() {
    if [ -n "$RUN_PID" ] && kill -0 "$RUN_PID" 2>/dev/null; then kill -KILL "$RUN_PID" 2>/dev/null; fi
    [ -n "$MOUNTED" ] && umount -l "$MOUNTED" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# An installation: a copy of the binary in its own folder, which is its application folder.
install_at() { # folder
    mkdir -p "$1/BackupJobs"
    cp "$BIN" "$1/stowline"
}
# Every path below a folder with its size and content checksum, skipping one subfolder.
snapshot() { # folder, subfolder to skip
    (cd "$1" && find . -path "./$2" -prune -o -print0 | sort -z | xargs -0 -r stat -c '%n %s %F' &&
        find . -path "./$2" -prune -o -type f -print0 | sort -z | xargs -0 -r sha256sum)
}

# ---- job names that make no clean folder name ----
APP="$WORK/names"
install_at "$APP"
mkdir -p "$APP/area/src/docs" "$APP/area/target/deep"
echo "some data" >"$APP/area/src/docs/a.txt"
i=0
for name in 'a/b' '../x' '..' '.' '...' "' '" "'..'" 'x/../y' '/' 'a\0b' '\0' '..\0' "$(printf 'n%.0s' {1..201})"; do
    for compress in -1 0; do
        i=$((i + 1))
        write_job -e -f "$APP/BackupJobs/bad$i.slj" "$name" "$APP/area/target/deep/" "$APP/area/src/docs/*.*" \
            "Compress=$compress"
        snapshot "$APP/area" "target/deep" >"$WORK/before"
        rm -f "$APP/stowline.log"
        timeout 60 "$APP/stowline" /RUN "bad$i" /EXIT >"$WORK/out" 2>"$WORK/err"
        RC=$?
        shown=$(printf '%s' "$name" | head -c 20)
        check "job name '$shown' (compress $compress): /RUN exits 1" [ "$RC" -eq 1 ]
        check "job name '$shown' (compress $compress): the log says why" \
            contains "$APP/stowline.log" "Invalid job name: '"
        check "job name '$shown' (compress $compress): no fatal report" [ ! -e "$APP/stowline.err" ]
        snapshot "$APP/area" "target/deep" >"$WORK/after"
        check "job name '$shown' (compress $compress): nothing written beside the target" \
            cmp -s "$WORK/before" "$WORK/after"
        check "job name '$shown' (compress $compress): nothing written in the target" \
            [ -z "$(ls -A "$APP/area/target/deep")" ]
        rm -f "$APP/BackupJobs/bad$i.slj"
    done
done
# A name just short of the limit, with a dot or two in it, still backs up.
write_job -e -f "$APP/BackupJobs/good.slj" "..a..b.$(printf 'n%.0s' {1..150})" "$APP/area/target/deep/" \
    "$APP/area/src/docs/*.*" Compress=-1
timeout 60 "$APP/stowline" /RUN good /EXIT >"$WORK/out" 2>"$WORK/err"
RC=$?
check "a long name with dots in it backs up" [ "$RC" -eq 0 ]
check "its archive is there" [ -f "$APP/area/target/deep/..a..b.$(printf 'n%.0s' {1..150}).zip" ]

# ---- the application folder's disk is full ----
if [ "$(id -u)" -ne 0 ]; then
    echo "skip - full application folder: needs root to mount a small tmpfs"
else
    APP="$WORK/full"
    mkdir -p "$APP"
    SIZE=$(($(stat -c %s "$BIN") / 1024 + 2048))
    if mount -t tmpfs -o "size=${SIZE}k" tmpfs "$APP" 2>/dev/null; then
        MOUNTED="$APP"
        install_at "$APP"
        mkdir -p "$WORK/fulldata/docs" "$WORK/fulltarget"
        echo "some data" >"$WORK/fulldata/docs/a.txt"
        write_job -e -f "$APP/BackupJobs/Docs.slj" Docs "$WORK/fulltarget/" "$WORK/fulldata/docs/*.*" Compress=0
        timeout 60 "$APP/stowline" /RUN Docs /EXIT >"$WORK/out" 2>"$WORK/err"
        RC=$?
        check "with room, the run succeeds (exit 0)" [ "$RC" -eq 0 ]
        cp "$APP/BackupJobs/Docs.slj" "$WORK/job-before"
        # Fill the disk: the log and the job file can grow no more.
        dd if=/dev/zero of="$APP/filler" bs=4k 2>/dev/null
        timeout 60 "$APP/stowline" /RUN Docs /EXIT >"$WORK/out" 2>"$WORK/err"
        RC=$?
        check "with the application folder's disk full, /RUN exits 1" [ "$RC" -eq 1 ]
        check "the reason is on standard error" contains "$WORK/err" "No space left on device"
        check "the job file's earlier record is intact" cmp -s "$APP/BackupJobs/Docs.slj" "$WORK/job-before"
        check "the backup itself was made" [ -f "$WORK/fulltarget/docs/a.txt" ]
        rm -f "$APP/filler"
        umount "$APP" && MOUNTED=""
    else
        echo "skip - full application folder: no tmpfs could be mounted here"
    fi
fi

# ---- a stop signal in the middle of a Rebuild ----
APP="$WORK/stop"
install_at "$APP"
mkdir -p "$APP/src/data" "$APP/target"
for n in $(seq 1 3000); do head -c 16384 /dev/urandom >"$APP/src/data/f$n"; done
write_job -e -f "$APP/BackupJobs/Big.slj" Big "$APP/target/" "$APP/src/data/*.*" Compress=0
timeout 120 "$APP/stowline" /RUN Big /EXIT >"$WORK/out" 2>"$WORK/err"
RC=$?
check "the first Rebuild completes" [ "$RC" -eq 0 ]
snapshot "$APP/target" "none" >"$WORK/copy-before"
for n in $(seq 1 3000); do echo "changed $n" >"$APP/src/data/f$n"; done
rm -f "$APP/stowline.log"
"$APP/stowline" /RUN Big /EXIT >"$WORK/out" 2>"$WORK/err" &
RUN_PID=$!
# Stopped once the new tree holds some of its files.
for _ in $(seq 1 2000); do
    [ "$(ls "$APP/target/.stowline-tmp-Big/rebuild/data" 2>/dev/null | wc -l)" -ge 200 ] && break
    kill -0 "$RUN_PID" 2>/dev/null || break
    sleep 0.01
done
check "the run was still copying when stopped" kill -TERM "$RUN_PID"
ENDED=no
for _ in $(seq 1 50); do
    kill -0 "$RUN_PID" 2>/dev/null || {
        ENDED=yes
        break
    }
    sleep 0.1
done
check "SIGTERM ends the run promptly" [ "$ENDED" = yes ]
wait "$RUN_PID"
RC=$?
RUN_PID=""
check "a stopped /RUN exits 1" [ "$RC" -eq 1 ]
check "the stop is logged" contains "$APP/stowline.log" "  Stopped: the program was asked to end"
check "the log says the previous copy was kept" \
    contains "$APP/stowline.log" "  Rebuild of '$APP/target/data' not completed: the previous copy was kept"
check "the reason is on standard error" contains "$WORK/err" "stopped by a signal"
snapshot "$APP/target" "none" >"$WORK/copy-after"
check "the previous copy is whole and untouched" cmp -s "$WORK/copy-before" "$WORK/copy-after"
check "the tree being built is gone" [ ! -e "$APP/target/.stowline-tmp-Big" ]
timeout 120 "$APP/stowline" /RUN Big /EXIT >"$WORK/out" 2>"$WORK/err"
RC=$?
check "the next run completes" [ "$RC" -eq 0 ]
check "and puts the new copy in place" [ "$(cat "$APP/target/data/f1234")" = "changed 1234" ]

cli_end
