#!/usr/bin/env bash
# Backups made where the system gives the program no thread, or only one, beyond its own: the
# real stowline run by an ordinary user under a process limit (RLIMIT_NPROC) that the user's
# processes already fill, as a pids cgroup or a busy account does. The zip job (more files than
# are written while selected, and one long enough to be deflated in pieces), the Rebuild copy
# (the copy workers) and the Update copy (the look-ahead) must each be made in full, the log
# must say how many workers ran, and the program must end normally.
# Usage: thread-limit-tests.sh <path-to-stowline>; exit 77 (skipped) when not root.
set -u

. "$(dirname "$0")/cli-common.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the thread-limit tests need root to run stowline as another user under a process limit"
    exit 77
fi
for tool in setpriv prlimit unzip bsdtar; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: the thread-limit tests need $tool"
        exit 77
    fi
done
cli_begin threads "$@"
USER_NAME=nobody
LOG="$WORK/stowline.log"


# 300 small files in 7 folders, and a file of 9 MiB.
for i in $(seq 0 299); do
    mkdir -p "$WORK/data/d$((i % 7))"
    printf 'file %d %0*d\n' "$i" $((i * 7)) 0 >"$WORK/data/d$((i % 7))/f$i.txt"
done
head -c $((2 << 20)) /dev/urandom >"$WORK/data/long.bin"
head -c $((7 << 20)) /dev/zero >>"$WORK/data/long.bin"

# Runs the installation's stowline as the user, allowed iExtra processes or threads beyond the
# ones the user has (the program itself takes one of them).
run_limited() { # iExtra, then the arguments
    local extra=$1
    shift
    local have
    have=$(ps -L -u "$USER_NAME" --no-headers 2>/dev/null | wc -l)
    local limit=$((have + 1 + extra))
    timeout "$RUN_TIMEOUT" setpriv --reuid="$USER_NAME" --regid=nogroup --clear-groups \
        prlimit --nproc="$limit:$limit" "$S" "$@" >"$WORK/out" 2>"$WORK/err"
    RC=$?
}
log_has() { tr -d '\r' <"$LOG" | cut -c22- | grep -qF -- "$1"; }
same_tree() { diff -r "$1" "$2" >/dev/null; }

LINE="  Could not start all worker threads (Resource temporarily unavailable); going on with"
for extra in 0 1; do
    rm -rf "$WORK/zip" "$WORK/copy" "$WORK/update" "$WORK/x" "$LOG"
    mkdir -p "$WORK/zip" "$WORK/copy" "$WORK/update/data/d1" "$WORK/x"
    write_job zipjob "$WORK/zip/" "$WORK/data/" Compress=-1 CopyStyle=0
    write_job rebuild "$WORK/copy/" "$WORK/data/" Compress=0 CopyStyle=0
    write_job update "$WORK/update/" "$WORK/data/" Compress=0 CopyStyle=1
    # An earlier copy for the Update: one file older than its source, one newer.
    echo "older copy" >"$WORK/update/data/d1/f1.txt"
    touch -d "2001-01-01" "$WORK/update/data/d1/f1.txt"
    cp -a "$WORK/data/d1/f8.txt" "$WORK/update/data/d1/f8.txt"
    echo "newer copy" >"$WORK/update/data/d1/f8.txt"
    touch -d "2090-01-01" "$WORK/update/data/d1/f8.txt"
    chown -R "$USER_NAME:nogroup" "$WORK"

    run_limited "$extra" /RUN zipjob rebuild update /EXIT
    what="with $extra extra thread(s) allowed"
    check "$what: the three runs succeed (exit 0)" [ "$RC" -eq 0 ]
    check "$what: nothing ended the program early" lacks "$WORK/err" "terminate"
    check "$what: the log says how many workers ran" log_has "$LINE"
    check "$what: the archive tests clean with unzip" sh -c "unzip -tq '$WORK/zip/zipjob.zip' >/dev/null"
    check "$what: bsdtar reads back every file as it is" sh -c "bsdtar -xf '$WORK/zip/zipjob.zip' -C '$WORK/x' &&
        diff -r '$WORK/x/${WORK#/}/data' '$WORK/data' >/dev/null"
    check "$what: the Rebuild copied the whole tree" same_tree "$WORK/data" "$WORK/copy/data"
    check "$what: the Update replaced the older copy" cmp -s "$WORK/data/d1/f1.txt" "$WORK/update/data/d1/f1.txt"
    check "$what: the Update kept the newer copy" grep -qx "newer copy" "$WORK/update/data/d1/f8.txt"
    check "$what: the Update copied the rest" sh -c "diff -r -x f8.txt '$WORK/data' '$WORK/update/data' >/dev/null"
done
cli_end
