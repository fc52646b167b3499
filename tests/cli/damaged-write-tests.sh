#!/usr/bin/env bash
# The check after a run reads back what the run wrote. A disk that stores other bytes than it
# was given (the fault shim flips one bit in the middle of a write: inside an archive entry's
# data, its directory and headers sound; inside a copy's data, its size and time sound) makes
# the run exit 1 naming the damaged file, in both styles; the same jobs on a sound disk pass.
# Usage: damaged-write-tests.sh <path-to-stowline> <path-to-libkillshim.so>
set -u

SHIM=${2:-}
. "$(dirname "$0")/cli-common.sh"
cli_begin damaged-write "${1:-}"
if [ ! -f "$SHIM" ]; then
    echo "usage: $0 <path-to-stowline> <path-to-libkillshim.so>" >&2
    exit 2
fi
LOG="$WORK/stowline.log"
log_has_line() { tr -d '\r' <"$LOG" | cut -c22- | grep -qxF -- "$1"; }
log_has_start() { tr -d '\r' <"$LOG" | cut -c22- | grep -qF -- "$1"; }


# Runs a job with every write to its temporary folder (where archives and copies are made)
# passing the disk that flips a bit.
run_flipped() { # job
    : >"$LOG"
    LD_PRELOAD="$SHIM" KILLSHIM_FLIP=".stowline-tmp-$1" timeout "$RUN_TIMEOUT" "$S" /RUN "$1" /EXIT \
        >"$WORK/out" 2>"$WORK/err"
    RC=$?
}
run_sound() { # job
    : >"$LOG"
    run /RUN "$1" /EXIT
}

# What Python's zipfile says of an archive: "name N" for each name in its directory, then
# "bad N" for the first entry whose data fails its CRC ("bad -" when none).
zip_says() {
    python3 - "$1" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for name in z.namelist():
        print("name", name)
    print("bad", z.testzip() or "-")
PY
}

# The sources, older than the runs by more than the second the check allows for clocks.
SRC="$WORK/data"
mkdir -p "$SRC/sub"
printf 'alpha\n' >"$SRC/a.txt"
head -c 1048576 /dev/urandom >"$SRC/sub/big.bin" # incompressible: stored as it is
STORED="${SRC#/}/sub/big.bin"
sleep 2

# ---- zip style: the central directory lists every entry, only reading the data tells ----
write_job dzip "$WORK/tzip/" "$SRC" Compress=-1 Verify=-1
mkdir -p "$WORK/tzip"
run_sound dzip
check "zip, sound disk: the run passes" [ "$RC" -eq 0 ]
check "zip, sound disk: the check after the run passed" log_has_line "  Verified the new backup"
run_flipped dzip
check "zip, a bit flipped on the way to disk: the run exits 1" [ "$RC" -eq 1 ]
check "zip: the log names the damaged entry" log_has_start "  Verify failed: '$STORED': damaged: "
check "zip: the log does not call the backup verified" sh -c "! tr -d '\r' <'$LOG' | grep -qF 'Verified the new backup'"
zip_says "$WORK/tzip/dzip.zip" >"$WORK/says"
check "zip: the archive's directory is sound and lists both files" \
    sh -c "grep -qxF 'name ${SRC#/}/a.txt' '$WORK/says' && grep -qxF 'name $STORED' '$WORK/says'"
check "zip: the damage is in the entry's data (zipfile's CRC check names it)" grep -qxF "bad $STORED" "$WORK/says"
run_sound dzip
check "zip: the next run on a sound disk passes again" [ "$RC" -eq 0 ]

# ---- copy style: same size, same time, only the bytes tell ----
write_job dcopy "$WORK/tcopy/" "$SRC" Compress=0 Verify=-1
mkdir -p "$WORK/tcopy"
COPY="$WORK/tcopy/data/sub/big.bin"
run_sound dcopy
check "copy, sound disk: the run passes" [ "$RC" -eq 0 ]
check "copy, sound disk: the check after the run passed" log_has_line "  Verified the new backup"
run_flipped dcopy
check "copy, a bit flipped on the way to disk: the run exits 1" [ "$RC" -eq 1 ]
check "copy: the log names the damaged copy" log_has_line "  Verify failed: $COPY: content differs"
check "copy: the copy's size and time are its source's" \
    [ "$(stat -c '%s %Y' "$COPY")" = "$(stat -c '%s %Y' "$SRC/sub/big.bin")" ]
check "copy: its bytes are not" sh -c "! cmp -s '$COPY' '$SRC/sub/big.bin'"
run_sound dcopy
check "copy: the next run on a sound disk passes again" [ "$RC" -eq 0 ]

cli_end
