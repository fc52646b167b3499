#!/usr/bin/env bash
# AES-256 archives through the real program: a job with Encryption=AES256 writes archives that
# 7-Zip and bsdtar open with the password and refuse with another, that hold no plaintext and give
# every entry its own salt; they verify and restore; an archive 7-Zip encrypted restores and
# verifies; incremental runs stay readable; a job file without the key still writes traditional
# encryption that unzip reads; a wrong password restores nothing and says so.
# Usage: aes-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin aes "$@"
SEVENZ_BIN=$(command -v 7zz || command -v 7z)
sevenz() { "$SEVENZ_BIN" "$@" >/dev/null 2>&1; }
PW='s3cret pass'


# Method, encryption flag and salt of every local header, read from the archive's bytes.
local_headers() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
e = data.rfind(b"PK\x05\x06")
count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
p = off
for i in range(count):
    n, x, c = struct.unpack("<HHH", data[p + 28:p + 34])
    name = data[p + 46:p + 46 + n].decode("utf-8", "replace")
    local = struct.unpack("<I", data[p + 42:p + 46])[0]
    p += 46 + n + x + c
    method, = struct.unpack("<H", data[local + 8:local + 10])
    flags, = struct.unpack("<H", data[local + 6:local + 8])
    ln, lx = struct.unpack("<HH", data[local + 26:local + 30])
    salt = data[local + 30 + ln + lx:local + 46 + ln + lx].hex() if method == 99 else "-"
    if not name.endswith("/"):
        print(method, flags & 1, salt, name)
PY
}

same_tree() { diff -r "$1" "$2" >/dev/null; }
no_files() { [ -z "$(find "$1" -type f 2>/dev/null)" ]; }

SRC="$WORK/data"
mkdir -p "$SRC/sub"
printf 'KNOWN-PLAINTEXT-MARKER %s\n' "$(seq 1 400)" >"$SRC/known.txt"
head -c 300000 /dev/urandom >"$SRC/sub/noise.bin"
for i in $(seq 1 20); do printf 'file %s\n' "$i" >"$SRC/sub/f$i.txt"; done
: >"$SRC/empty.txt"

# ---- an AES job ----
write_job -m aesjob "$WORK/taes/" "$SRC/" "Password=$(scrambled "$PW")" "Encryption=AES256"
run /RUN aesjob /EXIT
check "the AES run succeeded" [ "$RC" -eq 0 ]
ZIP="$WORK/taes/aesjob.zip"
check "the archive is there" [ -s "$ZIP" ]
check "7-Zip tests it with the password" sevenz t "-p$PW" "$ZIP"
check "7-Zip refuses another password" sh -c "! '$SEVENZ_BIN' t -pwrong '$ZIP' >/dev/null 2>&1"
mkdir -p "$WORK/bsd" "$WORK/bsdwrong"
check "bsdtar extracts it with the password" bsdtar -x --passphrase "$PW" -f "$ZIP" -C "$WORK/bsd"
check "bsdtar gives the files back" same_tree "$SRC" "$WORK/bsd/${SRC#/}"
check "bsdtar refuses another password" sh -c "! bsdtar -x --passphrase wrong -f '$ZIP' -C '$WORK/bsdwrong' 2>/dev/null"
check "no plaintext of a known file in the archive" sh -c "! grep -qa KNOWN-PLAINTEXT-MARKER '$ZIP'"
local_headers "$ZIP" >"$WORK/headers"
check "every file entry is AES (method 99, encrypted)" sh -c "[ \$(grep -c '^99 1 ' '$WORK/headers') -eq 23 ]"
check "every entry carries its own salt" sh -c "[ \$(cut -d' ' -f3 '$WORK/headers' | sort -u | wc -l) -eq 23 ]"
check "the job file still holds its key" contains "$JOBS/aesjob.slj" "Encryption=AES256"
run /VERIFY aesjob
check "/VERIFY passes the AES archive" [ "$RC" -eq 0 ]
run /RESTORE aesjob /TO "$WORK/restored"
check "/RESTORE of the AES archive exits 0" [ "$RC" -eq 0 ]
check "/RESTORE gives the files back" same_tree "$SRC" "$WORK/restored/${SRC#/}"

# ---- a wrong password: the clear message, nothing written ----
write_job -m wrongpw "$WORK/taes/" "$SRC/" "Password=$(scrambled "not it")" "Encryption=AES256"
run /RESTORE wrongpw /FROM "$ZIP" /TO "$WORK/wrong-out"
check "a wrong password: exit 1" [ "$RC" -eq 1 ]
check "a wrong password is named" contains "$WORK/out" "The password is wrong for '$ZIP'."
check "a wrong password writes nothing" no_files "$WORK/wrong-out"
write_job -m wrongv "$WORK/tv/" "$SRC/" "Password=$(scrambled "not it")" "Encryption=AES256"
cp "$ZIP" "$WORK/tv/wrongv.zip"
run /VERIFY wrongv
check "verify with a wrong password fails" sh -c "[ $RC -eq 1 ] && grep -qF 'the password is wrong' '$WORK/out'"

# ---- an archive 7-Zip encrypted with AES-256 ----
mkdir -p "$WORK/tseven"
(cd / && "$SEVENZ_BIN" a -tzip -mem=AES256 "-p$PW" "$WORK/tseven/seven.zip" "${SRC#/}" >/dev/null)
write_job -m seven "$WORK/tseven/" "$SRC/" "Password=$(scrambled "$PW")"
run /RESTORE seven /FROM seven.zip /TO "$WORK/seven-out"
check "7-Zip's AES archive restores" sh -c "[ $RC -eq 0 ] && diff -r '$SRC' '$WORK/seven-out/${SRC#/}' >/dev/null"
run /VERIFY seven
check "7-Zip's AES archive verifies" [ "$RC" -eq 0 ]

# ---- incremental AES runs ----
write_job -m incr "$WORK/tincr/" "$SRC/" "Password=$(scrambled "$PW")" "Encryption=AES256" "Incremental=-1"
sed -i 's/^Incremental=0\r$//' "$JOBS/incr.slj"
run /RUN incr /EXIT
check "the first incremental AES run succeeded" [ "$RC" -eq 0 ]
sleep 1
printf 'new file\n' >"$SRC/sub/new.txt"
run /RUN incr /EXIT
check "the second incremental AES run succeeded" [ "$RC" -eq 0 ]
all_test() { for z in "$WORK"/tincr/*.zip; do sevenz t "-p$PW" "$z" || return 1; done; }
check "every incremental archive tests with 7-Zip" all_test
check "the new file is in an archive" sh -c "for z in '$WORK'/tincr/*.zip; do bsdtar -tf \"\$z\"; done | grep -q 'sub/new.txt'"
rm -f "$SRC/sub/new.txt"

# ---- a job file from before the key: traditional, readable by unzip ----
write_job -m oldjob "$WORK/told/" "$SRC/" "Password=$(scrambled "$PW")"
cp "$JOBS/oldjob.slj" "$WORK/oldjob.before"
run /RUN oldjob /EXIT
check "the old job ran" [ "$RC" -eq 0 ]
check "unzip reads its traditional encryption" sh -c "unzip -tq -P '$PW' '$WORK/told/oldjob.zip' >/dev/null"
check "its entries are not AES" sh -c "[ \$(local_headers '$WORK/told/oldjob.zip' 2>/dev/null | grep -c '^99 ') -eq 0 ]"
check "the old job file got no Encryption key" lacks "$JOBS/oldjob.slj" "Encryption"

cli_end
