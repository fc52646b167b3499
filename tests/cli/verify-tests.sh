#!/usr/bin/env bash
# /VERIFY checked from outside on damaged backups: copies edited, zeroed or bit-flipped with
# their times put back, files, folders and whole trees gone; archives with an entry removed,
# emptied, truncated to nothing, with a wrong declared size, or the newest one gone. Each must
# exit 1 naming the fault on standard output and in the log; sound backups exit 0.
# Usage: verify-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin verify "$@"
LOG="$WORK/stowline.log"
log_has_line() { tr -d '\r' <"$LOG" | cut -c22- | grep -qxF -- "$1"; }

# Changes a file's bytes in place and puts its times back, as silent damage does.
damage() { # path, kind (edit|zero|flip)
    python3 - "$1" "$2" <<'PY'
import os, sys
path, kind = sys.argv[1], sys.argv[2]
st = os.stat(path)
data = bytearray(open(path, "rb").read())
if kind == "edit":
    data[10:20] = b"EDITEDEDIT"
elif kind == "zero":
    data = bytearray(len(data))
else:
    data[len(data) // 2] ^= 0x08
open(path, "r+b").write(data)
os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))
PY
}

# ---- the sources, made before the runs' minute (the record keeps minutes) ----
SRC="$WORK/data"
mkdir -p "$SRC/sub/deep"
printf 'alpha\n' >"$SRC/a.txt"
head -c 200000 /dev/urandom >"$SRC/sub/b.bin"
printf 'gamma\n' >"$SRC/sub/deep/c.txt"
sleep $((61 - 10#$(date +%S)))

write_job vcopy "$WORK/tcopy/" "$SRC" Compress=0
write_job vzip "$WORK/tzip/" "$SRC" Compress=-1
write_job vafter "$WORK/tafter/" "$SRC" Compress=0 "Verify=-1"
mkdir -p "$WORK/tcopy" "$WORK/tzip" "$WORK/tafter"
run /RUN vcopy /RUN vzip /RUN vafter /EXIT
check "the backups ran" [ "$RC" -eq 0 ]
check "the check after the run passed" log_has_line "  Verified the new backup"

# ---- sound backups ----
run /VERIFY vcopy vzip
check "sound backups exit 0" [ "$RC" -eq 0 ]
check "the copy tree checked is named on stdout" contains "$WORK/out" "Verified vcopy: $WORK/tcopy/"
check "the archive checked is named on stdout" contains "$WORK/out" "Verified vzip: $WORK/tzip/vzip.zip"

# ---- copies damaged with their times put back ----
COPY="$WORK/tcopy/data/sub/b.bin"
for kind in edit zero flip; do
    run /RUN vcopy /EXIT
    damage "$COPY" "$kind"
    run /VERIFY vcopy vzip
    check "$kind: exit 1" [ "$RC" -eq 1 ]
    check "$kind: stdout names the copy and what differs" contains "$WORK/out" \
        "Verify failed for vcopy ($WORK/tcopy/): $COPY: content differs"
    check "$kind: the other job is still verified" contains "$WORK/out" "Verified vzip: $WORK/tzip/vzip.zip"
    check "$kind: the log line" log_has_line "  Verify failed: $COPY: content differs"
done
damage "$WORK/tafter/data/sub/b.bin" flip
run /VERIFY vafter
check "a job that checks after its runs is verified by content on demand too" contains "$WORK/out" \
    "$WORK/tafter/data/sub/b.bin: content differs"

# ---- copies gone ----
run /RUN vcopy /EXIT
rm "$WORK/tcopy/data/a.txt"
run /VERIFY vcopy
check "a file gone: exit 1" [ "$RC" -eq 1 ]
check "a file gone is named" contains "$WORK/out" "$WORK/tcopy/data/a.txt: missing (source: $SRC/a.txt)"
rm -r "$WORK/tcopy/data/sub/deep"
run /VERIFY vcopy
check "a folder gone: exit 1" [ "$RC" -eq 1 ]
check "a folder gone is named in the log" log_has_line \
    "  Verify failed: $WORK/tcopy/data/sub/deep/: folder missing (source: $SRC/sub/deep/)"
rm -r "$WORK/tcopy/data"
run /VERIFY vcopy
check "a tree gone: exit 1" [ "$RC" -eq 1 ]
check "a tree gone is named" contains "$WORK/out" "$WORK/tcopy/data/: backup folder missing"

# ---- archives ----
ZIP="$WORK/tzip/vzip.zip"
cp "$ZIP" "$WORK/sound.zip"
python3 "$ZIPCHECK/drop_entry.py" "$ZIP" "${SRC#/}/sub/deep/c.txt"
run /VERIFY vzip
check "an entry removed: exit 1" [ "$RC" -eq 1 ]
check "an entry removed is named" contains "$WORK/out" \
    "Verify failed for vzip ($ZIP): '${SRC#/}/sub/deep/c.txt': missing from the archive"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w").close()' "$ZIP"
run /VERIFY vzip
check "an archive without entries: exit 1" [ "$RC" -eq 1 ]
check "an archive without entries is named" contains "$WORK/out" "the archive holds no entries"
: >"$ZIP"
run /VERIFY vzip
check "a 0-byte archive: exit 1" [ "$RC" -eq 1 ]
check "a 0-byte archive is named" contains "$WORK/out" "($ZIP): the archive is empty (0 bytes)"
python3 - "$ZIP" <<'PY'
import sys, zipfile, struct
path = sys.argv[1]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("big.txt", "x" * 1000)
data = bytearray(open(path, "rb").read())
struct.pack_into("<I", data, 22, 999)                        # local header
struct.pack_into("<I", data, data.find(b"PK\x01\x02") + 24, 999)  # central header
open(path, "wb").write(data)
PY
run /VERIFY vzip
check "data longer than declared: exit 1" [ "$RC" -eq 1 ]
check "data longer than declared is named damaged" contains "$WORK/out" "'big.txt': damaged"
cp "$WORK/sound.zip" "$ZIP"
run /VERIFY vzip
check "the archive put back verifies" [ "$RC" -eq 0 ]
run /RUN vzip /EXIT
check "a second archive" [ -f "$WORK/tzip/vzip_1.zip" ]
rm "$ZIP"
run /VERIFY vzip
check "the newest archive gone: exit 1" [ "$RC" -eq 1 ]
check "the newest archive gone is named" contains "$WORK/out" "$ZIP: the newest archive is missing"

# ---- several jobs in one call ----
run /VERIFY vafter nosuchjob vzip
check "several jobs: exit 1 when any fails" [ "$RC" -eq 1 ]
check "several jobs: each one answered" sh -c "[ \$(grep -c '^Verif' '$WORK/out') -eq 2 ]"
check "several jobs: the missing job on stderr" contains "$WORK/err" "nosuchjob"
run /RUN vafter /RUN vzip /EXIT
run /VERIFY vafter vzip vcopy
check "only the broken one fails" sh -c "[ $RC -eq 1 ] && grep -q '^Verified vafter' '$WORK/out' &&
    grep -q '^Verified vzip' '$WORK/out' && grep -q '^Verify failed for vcopy' '$WORK/out'"
run /RUN vcopy /EXIT
run /VERIFY vafter vzip vcopy
check "all sound again: exit 0" [ "$RC" -eq 0 ]

cli_end
