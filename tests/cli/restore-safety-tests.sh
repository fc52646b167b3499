#!/usr/bin/env bash
# Restore under attack, through the real executable: hand-made archives that reach outside the
# job's sources, links and then files through them, sizes that lie, a link target of megabytes,
# trees hundreds of folders deep, a second process swapping folders for links while restores
# run, and the leftovers of a killed restore. After each, nothing outside may have changed.
# Usage: restore-safety-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
RUN_TIMEOUT=300
cli_begin rsafe "$@"
MOUNTED=""
BG=""
cleanup() {
    [ -n "$BG" ] && kill "$BG" 2>/dev/null
    [ -n "$MOUNTED" ] && umount "$MOUNTED" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# Archives made by hand. Each argument: name|kind|data|declared size ("" for the true size).
# kind: file, link, dir. Data "@N" is N bytes of "a". The sizes written in both headers of an
# entry are replaced by the declared size, as a damaged or hostile archive would carry them.
make_zip() {
    python3 - "$@" <<'PY'
import struct, sys, zipfile
out = sys.argv[1]
patches = []
with zipfile.ZipFile(out, "w") as z:
    for spec in sys.argv[2:]:
        name, kind, data, declared = spec.split("|")
        payload = b"a" * int(data[1:]) if data.startswith("@") else data.encode()
        info = zipfile.ZipInfo(name + ("/" if kind == "dir" else ""))
        info.create_system = 3
        info.external_attr = {"file": 0o100644, "link": 0o120777, "dir": 0o40755}[kind] << 16
        info.compress_type = zipfile.ZIP_DEFLATED if len(payload) > 4096 else zipfile.ZIP_STORED
        z.writestr(info, b"" if kind == "dir" else payload)
        if declared:
            patches.append((info.filename, int(declared)))
with open(out, "r+b") as f:
    blob = bytearray(f.read())
    for name, size in patches:
        key = name.encode()
        local = blob.find(b"PK\x03\x04")
        while local >= 0:
            n = struct.unpack_from("<H", blob, local + 26)[0]
            if blob[local + 30:local + 30 + n] == key:
                struct.pack_into("<I", blob, local + 22, size)
            local = blob.find(b"PK\x03\x04", local + 4)
        central = blob.find(b"PK\x01\x02")
        while central >= 0:
            n = struct.unpack_from("<H", blob, central + 28)[0]
            if blob[central + 46:central + 46 + n] == key:
                struct.pack_into("<I", blob, central + 24, size)
            central = blob.find(b"PK\x01\x02", central + 4)
    f.seek(0)
    f.write(blob)
PY
}

# ---- original place: only below the job's sources ----
mkdir -p "$WORK/src/docs" "$WORK/src/other" "$WORK/zt" "$WORK/outside"
echo keep >"$WORK/outside/sentinel"
chmod 700 "$WORK/outside"
echo "single" >"$WORK/src/other/one.txt"
echo "neighbour" >"$WORK/src/other/two.txt"
echo "doc" >"$WORK/src/docs/a.txt"
write_job orig "$WORK/zt/" "$WORK/src/docs" "$WORK/src/other/one.txt" Compress=-1
run /RUN orig /EXIT
check "the job's backup is made" [ "$RC" -eq 0 ] && [ -f "$WORK/zt/orig.zip" ]
OUTSIDE_BEFORE=$(state_of "$WORK/outside")
S_REL=${WORK#/}
make_zip "$WORK/zt/evil1.zip" \
    "$S_REL/src/docs/fine.txt|file|fine|" \
    "$S_REL/outside/planted.txt|file|x|" \
    "$S_REL/src/other/two.txt|file|replaced|" \
    "$S_REL/src/other/one.txt|file|one again|" \
    "$S_REL/src/docs/ln|link|$WORK/outside|" \
    "$S_REL/src/docs/ln/through.txt|file|x|" \
    "$S_REL/src/docs/sub|dir||"
run /RESTORE orig /FROM evil1.zip /OVERWRITE
check "entries outside the sources: exit 1" [ "$RC" -eq 1 ]
check "an entry outside the sources is named" contains "$WORK/out" "not restored: $S_REL/outside/planted.txt: outside the job's sources"
check "a neighbour of a single-file source is refused" contains "$WORK/out" "not restored: $S_REL/src/other/two.txt: outside the job's sources"
check "a file through a link is refused" contains "$WORK/out" "not restored: $S_REL/src/docs/ln/through.txt"
check "the single-file source itself is restored" [ "$(cat "$WORK/src/other/one.txt")" = "one again" ]
check "the neighbour is untouched" [ "$(cat "$WORK/src/other/two.txt")" = "neighbour" ]
check "a file below the source folder is restored" [ "$(cat "$WORK/src/docs/fine.txt" 2>/dev/null)" = fine ]
check "nothing was planted outside" [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
# A link an earlier restore created is refused as well.
make_zip "$WORK/zt/evil2.zip" "$S_REL/src/docs/ln/later.txt|file|x|"
run /RESTORE orig /FROM evil2.zip
check "a link left by an earlier restore is not entered" sh -c "[ $RC -eq 1 ] && grep -qF 'is no folder here' '$WORK/out'"
check "still nothing outside" [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]

# ---- sizes that lie ----
make_zip "$WORK/zt/grow.zip" "$S_REL/src/docs/grow.bin|file|@20000|100" "$S_REL/src/docs/short.bin|file|@1000|5000" \
    "$S_REL/src/docs/ok.bin|file|@3000|"
run /RESTORE orig /FROM grow.zip /TO "$WORK/grow-out"
check "data longer than declared: exit 1" [ "$RC" -eq 1 ]
check "the growing entry is named damaged" contains "$WORK/out" "not restored: $S_REL/src/docs/grow.bin: damaged"
check "the short entry is named damaged" contains "$WORK/out" "not restored: $S_REL/src/docs/short.bin: damaged"
check "neither is under its name, no temporary file stays" \
    sh -c "[ ! -e '$WORK/grow-out/$S_REL/src/docs/grow.bin' ] && [ ! -e '$WORK/grow-out/$S_REL/src/docs/short.bin' ] && [ -z \"\$(find '$WORK/grow-out' -name '.stowline-restore-*')\" ]"
check "the sound entry is restored and counted by its bytes" \
    sh -c "[ \$(stat -c %s '$WORK/grow-out/$S_REL/src/docs/ok.bin') -eq 3000 ] && grep -qF 'restored 1 files (3000 bytes)' '$WORK/out'"

# ---- a link target of megabytes ----
make_zip "$WORK/zt/longlink.zip" "$S_REL/src/docs/huge-link|link|@3000000|" "$S_REL/src/docs/liar-link|link|@3000000|10"
check "the archive is small" [ "$(stat -c %s "$WORK/zt/longlink.zip")" -lt 100000 ]
run /RESTORE orig /FROM longlink.zip /TO "$WORK/link-out"
check "a 3 MB link target: exit 1, no crash" [ "$RC" -eq 1 ]
check "the long link is refused by name" contains "$WORK/out" "not restored: $S_REL/src/docs/huge-link: link target longer than 4096 bytes refused"
check "a link declaring less is refused too" contains "$WORK/out" "not restored: $S_REL/src/docs/liar-link: damaged"
check "no link was made" [ -z "$(find "$WORK/link-out" -type l 2>/dev/null)" ]

# ---- a bomb onto a small file system ----
if [ "$(id -u)" -eq 0 ] && mkdir -p "$WORK/small" && mount -t tmpfs -o size=1m tmpfs "$WORK/small" 2>/dev/null; then
    MOUNTED="$WORK/small"
    make_zip "$WORK/zt/bomb.zip" "$S_REL/src/docs/first.txt|file|small|" "$S_REL/src/docs/bomb.bin|file|@5000000|"
    run /RESTORE orig /FROM bomb.zip /TO "$WORK/small/in"
    check "a selection larger than the free space: exit 1" [ "$RC" -eq 1 ]
    check "it says there is not enough free space" contains "$WORK/out" "Not enough free space in '$WORK/small'"
    check "nothing was written" [ -z "$(ls -A "$WORK/small")" ]
    make_zip "$WORK/zt/bomb2.zip" "$S_REL/src/docs/a.txt|file|small|4000000000"
    run /RESTORE orig /FROM bomb2.zip /TO "$WORK/small/in"
    check "a lying declared size is refused before writing" sh -c "[ $RC -eq 1 ] && [ -z \"\$(find '$WORK/small' -type f)\" ]"
    umount "$WORK/small" && MOUNTED=""
else
    echo "skip - the small file system (needs root and tmpfs)"
fi

# ---- deep trees, both styles ----
deep_tree() { # folder, depth: a file at every level
    python3 - "$1" "$2" <<'PY'
import os, sys
top, depth = sys.argv[1], int(sys.argv[2])
os.makedirs(top, exist_ok=True)
fd = os.open(top, os.O_RDONLY)
for i in range(depth):
    with open(os.open("f.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "w") as f:
        f.write("level %d\n" % i)
    os.mkdir("d", dir_fd=fd)
    nfd = os.open("d", os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = nfd
os.close(fd)
PY
}
same_tree() { diff -r "$1" "$2" >/dev/null && [ "$(cd "$1" && find . | wc -l)" -eq "$(cd "$2" && find . | wc -l)" ]; }
for depth in 300 1100; do
    deep_tree "$WORK/deep$depth/tree" "$depth"
    mkdir -p "$WORK/deepzip$depth" "$WORK/deepcopy$depth"
    write_job "dz$depth" "$WORK/deepzip$depth/" "$WORK/deep$depth/tree" Compress=-1
    write_job "dc$depth" "$WORK/deepcopy$depth/" "$WORK/deep$depth/tree" Compress=0
    run /RUN "dc$depth" /EXIT
    check "a $depth-deep tree is backed up by copy" [ "$RC" -eq 0 ]
    run /VERIFY "dc$depth"
    check "the $depth-deep copy verifies" [ "$RC" -eq 0 ]
    run /RESTORE "dc$depth" /TO "$WORK/deep-out-c$depth"
    check "the $depth-deep copy restores: exit 0" [ "$RC" -eq 0 ]
    check "every file of the $depth-deep copy is back" same_tree "$WORK/deep$depth/tree" "$WORK/deep-out-c$depth/tree"
    if [ "$depth" -le 1000 ]; then
        run /RUN "dz$depth" /EXIT
        check "a $depth-deep tree is backed up by zip" [ "$RC" -eq 0 ]
        run /VERIFY "dz$depth"
        check "the $depth-deep archive verifies" [ "$RC" -eq 0 ]
    else
        # Deeper than the zip walk goes: the archive is made here, as another tool would.
        (cd "$WORK/deep$depth" && python3 -c "
import zipfile
with zipfile.ZipFile('$WORK/deepzip$depth/dz$depth.zip', 'w') as z:
    for i in range($depth):
        path = 'tree/' + 'd/' * i + 'f.txt'
        z.writestr('${S_REL}/deep$depth/' + path, 'level %d\\n' % i)
    z.writestr('${S_REL}/deep$depth/tree/' + 'd/' * $depth, '')
")
    fi
    run /RESTORE "dz$depth" /TO "$WORK/deep-out-z$depth"
    check "the $depth-deep archive restores: exit 0" [ "$RC" -eq 0 ]
    check "every file of the $depth-deep archive is back" same_tree "$WORK/deep$depth/tree" "$WORK/deep-out-z$depth$WORK/deep$depth/tree"
    rm -rf "$WORK/deep-out-c$depth" "$WORK/deep-out-z$depth"
done
# A copy tree deeper than its listing goes: the listing says where it stopped.
python3 - "$WORK/deepcopy1100/tree" <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
for i in range(4200):
    try:
        os.mkdir("d", dir_fd=fd)
    except FileExistsError:
        pass
    nfd = os.open("d", os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = nfd
os.close(fd)
PY
run /RESTORE dc1100 /TO "$WORK/deep-out-stop"
check "a listing that stops: exit 1" [ "$RC" -eq 1 ]
check "a listing that stops says so" contains "$WORK/err" "stopped: folders nested more than 4096 deep are not listed"
rm -rf "$WORK/deep300" "$WORK/deep1100" "$WORK/deepcopy1100" "$WORK/deep-out-stop" "$WORK/deepzip1100"

# ---- a second process swapping folders for links while restores run ----
mkdir -p "$WORK/race/src/sub" "$WORK/race/zip" "$WORK/race/copy" "$WORK/secret"
for i in $(seq 1 300); do echo "file $i" >"$WORK/race/src/sub/f$i.txt"; done
for i in $(seq 1 300); do echo "secret $i" >"$WORK/secret/f$i.txt"; done
write_job racezip "$WORK/race/zip/" "$WORK/race/src" Compress=-1
write_job racecopy "$WORK/race/copy/" "$WORK/race/src" Compress=0
run /RUN racezip racecopy /EXIT
check "the race backups are made" [ "$RC" -eq 0 ]
OUTSIDE_BEFORE=$(state_of "$WORK/outside")
RACE_OUT="$WORK/race-out"
mkdir -p "$RACE_OUT$WORK/race/src/sub"
swapper "$RACE_OUT$WORK/race/src/sub" "$WORK/outside" "$WORK/stop"
for _ in $(seq 1 30); do timeout 120 "$S" /RESTORE racezip /TO "$RACE_OUT" /OVERWRITE >/dev/null 2>&1; done
stop_swapper
check "restores into a chosen folder under swaps: nothing outside written or chmod-ed" \
    [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
swapper "$WORK/race/src/sub" "$WORK/outside" "$WORK/stop"
for _ in $(seq 1 30); do timeout 120 "$S" /RESTORE racezip /OVERWRITE >/dev/null 2>&1; done
stop_swapper
check "restores to the original place under swaps: nothing outside written or chmod-ed" \
    [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
check "the source folder is still a folder with its files" [ -d "$WORK/race/src/sub" ] && [ ! -L "$WORK/race/src/sub" ]
SECRET_BEFORE=$(state_of "$WORK/secret")
swapper "$WORK/race/copy/src/sub" "$WORK/secret" "$WORK/stop"
for i in $(seq 1 30); do timeout 120 "$S" /RESTORE racecopy /TO "$WORK/race-copy-out$i" >/dev/null 2>&1; done
stop_swapper
check "a copy tree swapped for a link is never read through it" \
    sh -c "! grep -rqs secret '$WORK'/race-copy-out*"
check "the swapped-to folder is unchanged" [ "$(state_of "$WORK/secret")" = "$SECRET_BEFORE" ]

# ---- a killed restore's partial files ----
mkdir -p "$WORK/big" "$WORK/bigzip"
head -c 400000000 /dev/zero >"$WORK/big/zeros.bin"
write_job big "$WORK/bigzip/" "$WORK/big" Compress=-1
run /RUN big /EXIT
rm -f "$WORK/big/zeros.bin"
KILLED=no
for _ in 1 2 3; do
    "$S" /RESTORE big >/dev/null 2>&1 &
    PID=$!
    for _ in $(seq 1 500); do
        if [ -n "$(find "$WORK/big" -name ".stowline-restore-$PID-*" 2>/dev/null)" ]; then
            kill -KILL "$PID"
            KILLED=yes
            break
        fi
        sleep 0.01
    done
    wait "$PID" 2>/dev/null
    [ "$KILLED" = yes ] && [ -n "$(find "$WORK/big" -name '.stowline-restore-*')" ] && break
    KILLED=no
    rm -f "$WORK/big/zeros.bin"
done
if [ "$KILLED" = yes ]; then
    check "the killed restore left its partial file" [ -n "$(find "$WORK/big" -name '.stowline-restore-*')" ]
    run /RESTORE big
    check "the next restore succeeds" [ "$RC" -eq 0 ] && [ "$(stat -c %s "$WORK/big/zeros.bin")" -eq 400000000 ]
    check "the partial file is gone" [ -z "$(find "$WORK/big" -name '.stowline-restore-*')" ]
    check "its removal is logged" contains "$WORK/stowline.log" "left by an interrupted restore"
else
    echo "FAIL - the restore could not be caught writing"
    FAILED=$((FAILED + 1))
fi
# The partial file of a restore still running is left alone.
sleep 1000 &
ALIVE=$!
echo partial >"$WORK/big/.stowline-restore-$ALIVE-1"
run /RESTORE big
check "a running restore's partial file stays" [ -f "$WORK/big/.stowline-restore-$ALIVE-1" ]
kill "$ALIVE"

cli_end
