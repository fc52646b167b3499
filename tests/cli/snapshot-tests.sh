#!/usr/bin/env bash
# Dated snapshots of a copy-style job through the real program: what each run writes under
# <job>.snapshots/, which files are hard links to the snapshot before (by inode), that a changed
# file never changes an earlier snapshot, "latest", the calendar's removals only after a
# successful run, a file system without hard links, and runs killed at many points.
#
#   snapshot-tests.sh <path-to-stowline> [<path-to-killshim.so>]
set -u
SHIM=${2:-}
. "$(dirname "$0")/cli-common.sh"
cli_begin snapshots "$1"
LOG="$WORK/stowline.log"
log_has_line() { tr -d '\r' <"$LOG" | cut -c22- | grep -qxF -- "$1"; }
log_count() { tr -d '\r' <"$LOG" | cut -c22- | grep -cF -- "$1"; }
ino() { stat -c %i "$1"; }

# A snapshot job: a copy style's dated folders, kept by the calendar, with no password or commands.
SNAPSHOT_JOB=(Compress=0 Snapshots=-1 -KeepCount -KeepPeriod -Password -PreBackupCommand -PostBackupCommand)
dated() { find "$1" -mindepth 1 -maxdepth 1 -type d -regex '.*/[0-9-]*_[0-9]*' -printf '%f\n' | sort; }
newest() { dated "$1" | tail -1; }
oldest() { dated "$1" | head -1; }

# ---- Rebuild: links for unchanged files, copies for changed and new ones ----
SRC="$WORK/src"
mkdir -p "$SRC/sub/deep"
for i in 1 2 3 4 5; do echo "file $i" >"$SRC/f$i.txt"; done
echo deep >"$SRC/sub/deep/d.txt"
ln -s f1.txt "$SRC/link"
chmod 640 "$SRC/f3.txt"
T="$WORK/t1"
SNAPS="$T/rb.snapshots"
write_job -m rb "$T/" "$SRC/" "${SNAPSHOT_JOB[@]}" "Verify=-1" "KeepLast=20"
run /RUN rb /EXIT
check "first snapshot run succeeds" [ "$RC" -eq 0 ]
FIRST=$(newest "$SNAPS")
check "one dated snapshot" [ "$(dated "$SNAPS" | wc -l)" -eq 1 ]
check "it holds the entry's folder as a copy would" cmp "$SRC/f1.txt" "$SNAPS/$FIRST/src/f1.txt"
check "subfolders too" cmp "$SRC/sub/deep/d.txt" "$SNAPS/$FIRST/src/sub/deep/d.txt"
check "a link stays a link" [ "$(readlink "$SNAPS/$FIRST/src/link")" = f1.txt ]
check "nothing is written to the target itself" [ ! -e "$T/src" ]
check "latest is a relative link to it" [ "$(readlink "$SNAPS/latest")" = "$FIRST" ]
check "the run checked the snapshot" log_has_line "  Verified the new backup"
check "the count line" log_has_line "  Copied 7 files totaling $(($(cat "$SRC"/f*.txt "$SRC/sub/deep/d.txt" | wc -c) + 6)) bytes"
check "the temporary folder is gone" [ -z "$(find "$T" -maxdepth 1 -name '.stowline-tmp-*')" ]
check "the snapshot folder is readable by all (0777 less the umask)" \
    [ "$(stat -c %a "$SNAPS")" = "$(printf '%o' $((0777 & ~$(umask))))" ]

echo "changed content" >"$SRC/f2.txt"
touch -d '2001-01-01 00:00:00' "$SRC/f4.txt" # same content, other time
chmod 600 "$SRC/f5.txt"                        # same content and time, other mode
echo new >"$SRC/new.txt"
rm "$SRC/sub/deep/d.txt"
F2_INO=$(ino "$SNAPS/$FIRST/src/f2.txt")
F2_MTIME=$(stat -c %Y.%y "$SNAPS/$FIRST/src/f2.txt")
F5_MODE=$(stat -c %a "$SNAPS/$FIRST/src/f5.txt")
run /RUN rb /EXIT
check "second run succeeds" [ "$RC" -eq 0 ]
SECOND=$(newest "$SNAPS")
check "a second snapshot, the first kept" [ "$(dated "$SNAPS" | wc -l)" -eq 2 ]
check "the second is the newest" [ "$SECOND" != "$FIRST" ]
check "an unchanged file is a hard link to the first snapshot's" \
    [ "$(ino "$SNAPS/$FIRST/src/f1.txt")" = "$(ino "$SNAPS/$SECOND/src/f1.txt")" ]
check "so is one with another mode kept (f3)" \
    [ "$(ino "$SNAPS/$FIRST/src/f3.txt")" = "$(ino "$SNAPS/$SECOND/src/f3.txt")" ]
check "a changed file is a new copy" [ "$(ino "$SNAPS/$FIRST/src/f2.txt")" != "$(ino "$SNAPS/$SECOND/src/f2.txt")" ]
check "its new content" cmp "$SRC/f2.txt" "$SNAPS/$SECOND/src/f2.txt"
check "the earlier snapshot keeps its content" grep -qx "file 2" "$SNAPS/$FIRST/src/f2.txt"
check "... its inode" [ "$(ino "$SNAPS/$FIRST/src/f2.txt")" = "$F2_INO" ]
check "... its time" [ "$(stat -c %Y.%y "$SNAPS/$FIRST/src/f2.txt")" = "$F2_MTIME" ]
check "a file with another time only is copied" \
    [ "$(ino "$SNAPS/$FIRST/src/f4.txt")" != "$(ino "$SNAPS/$SECOND/src/f4.txt")" ]
check "a file with another mode only is copied" \
    [ "$(ino "$SNAPS/$FIRST/src/f5.txt")" != "$(ino "$SNAPS/$SECOND/src/f5.txt")" ]
check "its new mode" [ "$(stat -c %a "$SNAPS/$SECOND/src/f5.txt")" = 600 ]
check "the earlier one kept its mode" [ "$(stat -c %a "$SNAPS/$FIRST/src/f5.txt")" = "$F5_MODE" ]
check "a new file is there" cmp "$SRC/new.txt" "$SNAPS/$SECOND/src/new.txt"
check "a deleted file is gone from a Rebuild's snapshot" [ ! -e "$SNAPS/$SECOND/src/sub/deep/d.txt" ]
check "and kept in the earlier one" [ -f "$SNAPS/$FIRST/src/sub/deep/d.txt" ]
check "latest moved to the newest" [ "$(readlink "$SNAPS/latest")" = "$SECOND" ]
check "no temporary link is left" [ -z "$(find "$SNAPS" -name '.stowline-tmp-*')" ]
check "the linked files count as backed up" log_has_line "  Copied 7 files totaling $(($(cat "$SRC"/f*.txt "$SRC/new.txt" | wc -c) + 6)) bytes"

# Runs in one second take the next free second.
run /RUN rb rb rb /EXIT
check "three runs at once succeed" [ "$RC" -eq 0 ]
check "each got a name of its own" [ "$(dated "$SNAPS" | wc -l)" -eq 5 ]
check "each said so in the log" [ "$(tr -d '\r' <"$LOG" | grep -c '  Snapshot [0-9_-]* written$')" -eq 5 ]
check "latest is the newest name" [ "$(readlink "$SNAPS/latest")" = "$(newest "$SNAPS")" ]

# A name already there (here: empty folders for the next seconds) is never replaced.
while [[ ! "$(date +%Y-%m-%d_%H%M%S)" > "$(newest "$SNAPS")" ]]; do sleep 0.2; done # past the runs above
NOW=$(date +%s)
for i in 0 1 2 3 4 5; do mkdir "$SNAPS/$(date -d "@$((NOW + i))" +%Y-%m-%d_%H%M%S)"; done
run /RUN rb /EXIT
check "a taken name: the run succeeds" [ "$RC" -eq 0 ]
check "a taken name: the run took a later second" [ "$(newest "$SNAPS")" = "$(date -d "@$((NOW + 6))" +%Y-%m-%d_%H%M%S)" ]
premade_empty() {
    local i
    for i in 0 1 2 3 4 5; do [ -z "$(ls -A "$SNAPS/$(date -d "@$((NOW + i))" +%Y-%m-%d_%H%M%S)")" ] || return 1; done
}
check "a taken name: the folders there were left alone" premade_empty
check "a taken name: the new snapshot is whole" cmp "$SRC/f2.txt" "$SNAPS/$(newest "$SNAPS")/src/f2.txt"

# ---- Update: a linked image of the previous snapshot, changed files replaced by new ones ----
SRC2="$WORK/src2"
mkdir -p "$SRC2/a"
for i in 1 2 3; do echo "u $i" >"$SRC2/a/u$i.txt"; done
chmod 644 "$SRC2/a/u1.txt"
T2="$WORK/t2"
US="$T2/up.snapshots"
write_job -m up "$T2/" "$SRC2/" "${SNAPSHOT_JOB[@]}" CopyStyle=1
run /RUN up /EXIT
U1=$(newest "$US")
check "Update: first run succeeds" [ "$RC" -eq 0 ]
check "Update: first snapshot" [ -f "$US/$U1/src2/a/u1.txt" ]
OLD_INO=$(ino "$US/$U1/src2/a/u1.txt")
OLD_MTIME=$(stat -c %y "$US/$U1/src2/a/u1.txt")
sleep 1.1
echo "changed u1, longer" >"$SRC2/a/u1.txt"
chmod 600 "$SRC2/a/u1.txt"
rm "$SRC2/a/u3.txt"
run /RUN up /EXIT
U2=$(newest "$US")
check "Update: second run succeeds" [ "$RC" -eq 0 ]
check "Update: second snapshot" [ "$U1" != "$U2" ]
check "Update: the changed file is new in the new snapshot" cmp "$SRC2/a/u1.txt" "$US/$U2/src2/a/u1.txt"
check "Update: the earlier snapshot's file kept its content" grep -qx "u 1" "$US/$U1/src2/a/u1.txt"
check "Update: ... its inode" [ "$(ino "$US/$U1/src2/a/u1.txt")" = "$OLD_INO" ]
check "Update: ... its mode" [ "$(stat -c %a "$US/$U1/src2/a/u1.txt")" = 644 ]
check "Update: ... its time" [ "$(stat -c %y "$US/$U1/src2/a/u1.txt")" = "$OLD_MTIME" ]
check "Update: ... and its link count (1: no longer shared)" [ "$(stat -c %h "$US/$U1/src2/a/u1.txt")" = 1 ]
check "Update: an unchanged file is a link" [ "$(ino "$US/$U1/src2/a/u2.txt")" = "$(ino "$US/$U2/src2/a/u2.txt")" ]
check "Update: a deleted file is kept" [ -f "$US/$U2/src2/a/u3.txt" ]

# ---- Freshen: only files the previous snapshot holds are replaced ----
write_job -m fr "$WORK/t6/" "$SRC2/" "${SNAPSHOT_JOB[@]}" CopyStyle=2
FS6="$WORK/t6/fr.snapshots"
mkdir -p "$FS6/2020-01-01_000000/src2/a"
echo "old u2" >"$FS6/2020-01-01_000000/src2/a/u2.txt"
touch -d '2001-01-01' "$FS6/2020-01-01_000000/src2/a/u2.txt"
run /RUN fr /EXIT
FR=$(newest "$FS6")
check "Freshen: the run succeeds" [ "$RC" -eq 0 ]
check "Freshen: a new snapshot" [ "$FR" != 2020-01-01_000000 ]
check "Freshen: the held file is replaced" cmp "$SRC2/a/u2.txt" "$FS6/$FR/src2/a/u2.txt"
check "Freshen: ... by a new file, the earlier one untouched" grep -qx "old u2" "$FS6/2020-01-01_000000/src2/a/u2.txt"
check "Freshen: a file it did not hold is not added" [ ! -e "$FS6/$FR/src2/a/u1.txt" ]

# ---- the calendar: removals only after a successful run ----
T3="$WORK/t3"
KS="$T3/keep.snapshots"
mkdir -p "$KS"
for d in 2020-01-01_120000 2020-01-02_120000 2020-01-03_120000; do mkdir -p "$KS/$d/src"; done
write_job -m keep "$T3/" "$SRC/" "${SNAPSHOT_JOB[@]}" "KeepLast=1" "KeepDaily=1" "KeepWeekly=0" "KeepMonthly=0" \
    "KeepYearly=0"
# A second source that is missing: the first entry is copied, then the run is abandoned.
sed -i "s|^File_0=.*\r\$|&\nFile_1=$WORK/missing/\r|" "$JOBS/keep.slj"
run /RUN keep /EXIT
check "a failed run (a source missing after the first was copied) fails" [ "$RC" -ne 0 ]
check "it wrote no snapshot and removed nothing" [ "$(dated "$KS" | wc -l)" -eq 3 ]
check "latest was not made" [ ! -e "$KS/latest" ]
check "its partial build is gone" [ -z "$(find "$T3" -maxdepth 1 -name '.stowline-tmp-*')" ]
sed -i "/^File_1=/d" "$JOBS/keep.slj"
run /RUN keep /EXIT
check "a successful run succeeds" [ "$RC" -eq 0 ]
check "only the newest is left, as the plan says" [ "$(dated "$KS" | wc -l)" -eq 1 ]
check "the newest is the new snapshot" [ "$(readlink "$KS/latest")" = "$(newest "$KS")" ]
check "a line per removed snapshot" log_has_line "  Snapshot 2020-01-01_120000 removed"
check "a folder of another name is never touched" sh -c "mkdir '$KS/mine' && $S /RUN keep /EXIT >/dev/null 2>&1; [ -d '$KS/mine' ]"

# ---- the off-site copy sends the new snapshot's tree ----
if command -v rclone >/dev/null 2>&1; then
    printf '[loc]\ntype = local\n' >"$WORK/rclone.conf"
    T5="$WORK/t5"
    write_job -m off "$T5/" "$SRC/" "${SNAPSHOT_JOB[@]}" "OffsiteRemote=loc:$WORK/remote"
    RCLONE_CONFIG="$WORK/rclone.conf" run /RUN off /EXIT
    CUR="$WORK/remote/off/current"
    check "off-site: the run succeeds" [ "$RC" -eq 0 ]
    check "off-site: the remote holds the snapshot's tree" diff -r "$T5/off.snapshots/latest/" "$CUR/"
    check "off-site: not the snapshot folder" [ ! -e "$CUR/off.snapshots" ]
else
    echo "skip - off-site: rclone is not installed"
fi

# ---- an abandoned run leaves no dated folder ----
T4="$WORK/t4"
mkdir -p "$T4"
write_job -m gone "$T4/" "$WORK/nosuchsource/" "${SNAPSHOT_JOB[@]}"
run /RUN gone /EXIT
check "a run without its source writes no snapshot" [ -z "$(dated "$T4/gone.snapshots" 2>/dev/null)" ]

# ---- a run asked to stop (SIGTERM) leaves no dated folder ----
T7="$WORK/t7"
write_job -m stopped "$T7/" "$SRC/" "${SNAPSHOT_JOB[@]}" "PreBackupCommand=sleep 2"
"$S" /RUN stopped /EXIT >/dev/null 2>&1 &
STOP_PID=$!
sleep 1
kill -TERM "$STOP_PID"
wait "$STOP_PID"
check "a stopped run fails" [ "$?" -ne 0 ]
check "a stopped run writes no snapshot" [ -z "$(dated "$T7/stopped.snapshots" 2>/dev/null)" ]
check "it says so" log_has_line "  Snapshot not completed: the previous snapshots were kept"
check "its build is gone" [ -z "$(find "$T7" -maxdepth 1 -name '.stowline-tmp-*')" ]

# ---- a file system without hard links: files copied, said once ----
if [ "$(id -u)" = 0 ] && command -v mkfs.vfat >/dev/null; then
    IMG="$WORK/vfat.img"
    MNT="$WORK/vfat"
    mkdir -p "$MNT"
    truncate -s 32M "$IMG"
    mkfs.vfat "$IMG" >/dev/null 2>&1
    if mount -t vfat -o loop "$IMG" "$MNT" 2>/dev/null; then
        trap 'umount "$MNT" 2>/dev/null; rm -rf "$WORK"' EXIT
        SRC3="$WORK/src3"
        mkdir -p "$SRC3"
        for i in 1 2 3; do echo "v $i" >"$SRC3/v$i.txt"; done
        write_job -m fat "$MNT/" "$SRC3/" "${SNAPSHOT_JOB[@]}"
        run /RUN fat /EXIT
        run /RUN fat /EXIT
        FS="$MNT/fat.snapshots"
        check "vfat: the run succeeds" [ "$RC" -eq 0 ]
        check "vfat: two snapshots, each whole" sh -c "[ $(dated "$FS" | wc -l) -eq 2 ] && cmp '$SRC3/v1.txt' '$FS/$(newest "$FS")/src3/v1.txt'"
        check "vfat: the log says files were copied, once per run" \
            [ "$(log_count "Hard links not possible in '$FS/$(oldest "$FS")/src3/': files copied instead")" -eq 1 ]
        umount "$MNT"
        trap 'rm -rf "$WORK"' EXIT
    else
        echo "skip - vfat: the kernel cannot mount vfat here"
    fi
else
    echo "skip - vfat: needs root and mkfs.vfat (dosfstools)"
fi

# ---- a file at its link limit: copied, said once ----
if [ "$(id -u)" = 0 ]; then
    IMG="$WORK/ext4.img"
    MNT="$WORK/ext4"
    mkdir -p "$MNT"
    truncate -s 64M "$IMG"
    if mkfs.ext4 -q -F "$IMG" >/dev/null 2>&1 && mount -o loop "$IMG" "$MNT" 2>/dev/null; then
        trap 'umount "$MNT" 2>/dev/null; rm -rf "$WORK"' EXIT
        SRC4="$WORK/src4"
        mkdir -p "$SRC4"
        for i in 1 2; do echo "m $i" >"$SRC4/m$i.txt"; done
        write_job -m lim "$MNT/" "$SRC4/" "${SNAPSHOT_JOB[@]}"
        run /RUN lim /EXIT
        LS="$MNT/lim.snapshots"
        L1=$(newest "$LS")
        # The first snapshot's m1.txt linked until the file system allows no more links to it.
        python3 - "$LS/$L1/src4/m1.txt" "$MNT/pad" <<'PY'
import errno, os, sys
os.mkdir(sys.argv[2])
i = 0
while True:
    try:
        os.link(sys.argv[1], os.path.join(sys.argv[2], str(i)))
    except OSError as e:
        if e.errno != errno.EMLINK:
            raise
        break
    i += 1
PY
        run /RUN lim /EXIT
        L2=$(newest "$LS")
        check "link limit: the run succeeds" [ "$RC" -eq 0 ]
        check "link limit: a new snapshot" [ "$L1" != "$L2" ]
        check "link limit: the file is copied instead" \
            sh -c "[ $(stat -c %h "$LS/$L2/src4/m1.txt") -eq 1 ] && cmp -s '$SRC4/m1.txt' '$LS/$L2/src4/m1.txt'"
        check "link limit: the other file is still a link" \
            [ "$(ino "$LS/$L1/src4/m2.txt")" = "$(ino "$LS/$L2/src4/m2.txt")" ]
        check "link limit: said once" \
            [ "$(log_count "Hard links not possible in '$LS/$L1/src4/': files copied instead")" -eq 1 ]
        umount "$MNT"
        trap 'rm -rf "$WORK"' EXIT
    else
        echo "skip - link limit: no ext4 loop mount"
    fi
else
    echo "skip - link limit: needs root"
fi

# ---- on demand, and the hour repeated when summer time ends ----
SRC5="$WORK/src5"
mkdir -p "$SRC5"
echo one >"$SRC5/a.txt"
T5="$WORK/t5"
S5="$T5/dst.snapshots"
write_job -m dst "$T5/" "$SRC5/" "${SNAPSHOT_JOB[@]}"
run /RUN dst /EXIT
# A snapshot named half an hour ahead, as one made just before the clocks went back is.
AHEAD=$(date -d '+30 minutes' +%Y-%m-%d_%H%M%S)
cp -a "$S5/$(newest "$S5")" "$S5/$AHEAD"
run /RUN dst /EXIT
check "repeated hour: the run succeeds" [ "$RC" -eq 0 ]
check "repeated hour: the new snapshot is named after the newest one" \
    [ "$(newest "$S5")" = "$(date -d "@$(($(date -d "$(echo "$AHEAD" | sed 's/_\(..\)\(..\)\(..\)/ \1:\2:\3/')" +%s) + 1))" +%Y-%m-%d_%H%M%S)" ]
check "repeated hour: latest names it" [ "$(readlink "$S5/latest")" = "$(newest "$S5")" ]
run /VERIFY dst
check "/VERIFY holds the job to its newest snapshot" [ "$RC" -eq 0 ]
check "/VERIFY names that snapshot" log_has_line "  Verified '$S5/$(newest "$S5")/'"
echo changed >"$S5/$(newest "$S5")/src5/a.txt"
run /VERIFY dst
check "/VERIFY finds a damaged newest snapshot" [ "$RC" -ne 0 ]

# ---- killed at many points: no partial snapshot under a dated name, latest always whole ----
if [ -n "$SHIM" ] && [ -f "$SHIM" ]; then
    . "$(dirname "$0")/snapshot-kills.sh"
else
    echo "skip - kills: no fault-injection library given"
fi

cli_end
