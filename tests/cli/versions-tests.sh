#!/usr/bin/env bash
# Restoring from dated snapshots through the real executable: snapshot folders made by hand as a
# snapshot run lays them out (unchanged files hard links to the snapshot before, a changed file
# copied anew, "latest" a relative link), restored by path, by name, by "latest" and by default;
# a link in a snapshot comes back as a link; a "latest" or dated name that leads elsewhere is
# refused; folders swapped for links while restores run are never written or read through.
# Usage: versions-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin versions "$@"
BG=""
cleanup() {
    [ -n "$BG" ] && kill "$BG" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
inode() { stat -c %i "$1"; }

# ---- a job that keeps snapshots and has none yet has nothing to restore ----
mkdir -p "$WORK/empty-t/none.snapshots" "$WORK/empty-src"
write_job none "$WORK/empty-t/" "$WORK/empty-src" Compress=0 Snapshots=-1 -KeepCount -KeepPeriod
run /RESTORE none /TO "$WORK/none-out"
check "no snapshot and no tree: exit 1, saying so" \
    sh -c "[ $RC -eq 1 ] && grep -qF 'job none has no backup to restore from' '$WORK/err'"

# ---- three snapshots: a.txt changes in the second, b.txt in the third ----
mkdir -p "$WORK/src/docs/sub" "$WORK/outside" "$WORK/secret" "$WORK/t"
echo keep >"$WORK/outside/sentinel"
for i in $(seq 1 200); do echo "secret $i" >"$WORK/secret/s$i.txt"; done
echo "a one" >"$WORK/src/docs/a.txt"
echo "b one" >"$WORK/src/docs/b.txt"
for i in $(seq 1 200); do echo "sub $i" >"$WORK/src/docs/sub/f$i.txt"; done
ln -s "$WORK/outside" "$WORK/src/docs/out-link"
write_job snap "$WORK/t/" "$WORK/src/docs" Compress=0 Snapshots=-1 -KeepCount -KeepPeriod
SNAPS="$WORK/t/snap.snapshots"
S1="$SNAPS/2026-12-01_100000" S2="$SNAPS/2026-12-02_100000" S3="$SNAPS/2026-12-03_100000"
mkdir -p "$S1"
cp -a "$WORK/src/docs" "$S1/docs"
cp -al "$S1" "$S2"
rm "$S2/docs/a.txt" && echo "a two" >"$S2/docs/a.txt"
cp -al "$S2" "$S3"
rm "$S3/docs/b.txt" && echo "b three, longer" >"$S3/docs/b.txt"
ln -s 2026-12-03_100000 "$SNAPS/latest"
check "the hand-made snapshots share unchanged files" [ "$(inode "$S1/docs/b.txt")" = "$(inode "$S2/docs/b.txt")" ]
OUTSIDE_BEFORE=$(state_of "$WORK/outside")

run /RESTORE snap /FROM "$S1" /TO "$WORK/out1"
check "a dated snapshot folder restores: exit 0" [ "$RC" -eq 0 ]
check "it says which snapshot" contains "$WORK/out" "Restore snap from $S1/ to $WORK/out1"
check "the first snapshot's a.txt is back" [ "$(cat "$WORK/out1/docs/a.txt")" = "a one" ]
check "its tree is whole" [ "$(find "$WORK/out1/docs/sub" -type f | wc -l)" -eq 200 ]
check "a link in the snapshot comes back as the link" \
    sh -c "[ -L '$WORK/out1/docs/out-link' ] && [ \"\$(readlink '$WORK/out1/docs/out-link')\" = '$WORK/outside' ]"
check "nothing was written through it" [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]

run /RESTORE snap /FROM 2026-12-02_100000 /TO "$WORK/out2"
check "a snapshot named without its folder restores" [ "$RC" -eq 0 ] && [ "$(cat "$WORK/out2/docs/a.txt")" = "a two" ]
check "its unchanged file is the first one's" [ "$(cat "$WORK/out2/docs/b.txt")" = "b one" ]

run /RESTORE snap /TO "$WORK/out3"
check "without /FROM the newest snapshot is used" contains "$WORK/out" "Restore snap from $S3/"
check "the newest snapshot's files are back" [ "$(cat "$WORK/out3/docs/b.txt")" = "b three, longer" ]

run /RESTORE snap /FROM "$SNAPS/latest/" /TO "$WORK/out4"
check "'latest' restores the snapshot it names" [ "$RC" -eq 0 ] && [ "$(cat "$WORK/out4/docs/b.txt")" = "b three, longer" ]
check "'latest' is resolved once and said" contains "$WORK/err" "'$SNAPS/latest/' is the snapshot '$S3/'"
check "the restore names the dated snapshot" contains "$WORK/out" "Restore snap from $S3/ to"

# The original place: a file lost from the sources comes back from an older snapshot.
rm "$WORK/src/docs/a.txt"
echo "b now" >"$WORK/src/docs/b.txt"
run /RESTORE snap /FROM "$S1" /ONLY a.txt /ONLY b.txt
check "to the original place: exit 0" [ "$RC" -eq 0 ]
check "the lost file is back with its old content" [ "$(cat "$WORK/src/docs/a.txt")" = "a one" ]
check "an existing file is kept without /OVERWRITE" [ "$(cat "$WORK/src/docs/b.txt")" = "b now" ]
run /RESTORE snap /FROM "$S1" /ONLY b.txt /OVERWRITE
check "with /OVERWRITE it is replaced" [ "$(cat "$WORK/src/docs/b.txt")" = "b one" ]
check "the snapshots are untouched by restores" \
    sh -c "[ \"\$(cat '$S3/docs/b.txt')\" = 'b three, longer' ] && [ \"\$(cat '$S1/docs/b.txt')\" = 'b one' ] && [ \"\$(cat '$S2/docs/a.txt')\" = 'a two' ]"

# ---- links that lead out of the snapshot folder ----
rm "$SNAPS/latest"
ln -s "$WORK/secret" "$SNAPS/latest"
run /RESTORE snap /FROM "$SNAPS/latest" /TO "$WORK/out5"
check "'latest' leading elsewhere is refused: exit 1" [ "$RC" -eq 1 ]
check "it says restore follows no other link" contains "$WORK/err" "restore follows no other link"
check "nothing was restored from it" [ ! -e "$WORK/out5" ]
rm "$SNAPS/latest"
ln -s ../../secret "$SNAPS/latest"
run /RESTORE snap /FROM "$SNAPS/latest" /TO "$WORK/out5"
check "a relative 'latest' climbing out is refused too" [ "$RC" -eq 1 ] && [ ! -e "$WORK/out5" ]
rm "$SNAPS/latest"
mkdir -p "$WORK/fake/docs" && echo "planted" >"$WORK/fake/docs/a.txt"
ln -s "$WORK/fake" "$SNAPS/2026-12-04_100000"
run /RESTORE snap /TO "$WORK/out6"
check "a dated name that is a link is no snapshot: the newest real one is used" \
    sh -c "[ $RC -eq 0 ] && grep -qF 'from $S3/' '$WORK/out' && [ \"\$(cat '$WORK/out6/docs/a.txt')\" = 'a two' ]"
run /RESTORE snap /FROM "$SNAPS/2026-12-04_100000" /TO "$WORK/out7"
check "named directly, it is not read through: exit 1" [ "$RC" -eq 1 ] && [ ! -e "$WORK/out7/docs/a.txt" ]
rm "$SNAPS/2026-12-04_100000"

# ---- a second process swapping folders for links while restores run ----
SECRET_BEFORE=$(state_of "$WORK/secret")
swapper "$S2/docs/sub" "$WORK/secret" "$WORK/stop"
for i in $(seq 1 25); do timeout 120 "$S" /RESTORE snap /FROM "$S2" /TO "$WORK/race$i" >/dev/null 2>&1; done
stop_swapper
check "a snapshot's folder swapped for a link is never read through it" sh -c "! grep -rqs secret '$WORK'/race*"
check "the swapped-to folder is unchanged" [ "$(state_of "$WORK/secret")" = "$SECRET_BEFORE" ]
rm -rf "$WORK"/race*
swapper "$WORK/src/docs/sub" "$WORK/outside" "$WORK/stop"
for _ in $(seq 1 25); do timeout 120 "$S" /RESTORE snap /FROM "$S2" /OVERWRITE >/dev/null 2>&1; done
stop_swapper
check "restores to the original place under swaps: nothing outside written or chmod-ed" \
    [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
# A restore may make the folder anew while the swapper has it moved away: the originals are then
# beside it, none lost.
check "the source folder is still a folder, and none of its files is lost" \
    sh -c "[ -d '$WORK/src/docs/sub' ] && [ ! -L '$WORK/src/docs/sub' ] &&
        [ \$(find '$WORK/src/docs/sub' '$WORK/src/docs/sub.moved' -maxdepth 1 -name 'f*.txt' -printf '%f\n' 2>/dev/null |
            sort -u | wc -l) -eq 200 ]"

cli_end
