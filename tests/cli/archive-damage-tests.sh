#!/usr/bin/env bash
# Archives from outside: names with every byte but NUL and "/" backed up, verified and restored
# byte for byte in both styles; Stowline's archives read by other zip programs; archives damaged
# where the zip format has no checksum (a flipped type bit, entries sharing data) refused by
# /VERIFY and /RESTORE.
# Usage: archive-damage-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin archive "$@"

# ---- names with every byte ----
# Files and folders named by slices of the bytes 1..255 without "/", each file holding its name.
python3 - "$WORK/names" <<'PY'
import os, sys
root = os.fsencode(sys.argv[1])
allb = bytes(c for c in range(1, 256) if c != 0x2F)
slices = [allb[i:i + 40] for i in range(0, len(allb), 40)]
for i, s in enumerate(slices):
    folder = os.path.join(root, slices[(i + 1) % len(slices)] + b" dir")
    os.makedirs(folder, exist_ok=True)
    for d in (root, folder):
        with open(os.path.join(d, s), "wb") as f:
            f.write(s)
PY
touch -d @1600000000 "$WORK/names"
mkdir -p "$WORK/bzip" "$WORK/bcopy"
for style in zip copy; do
    compress=-1
    [ $style = copy ] && compress=0
    write_job "b$style" "$WORK/b$style/" "$WORK/names/" Compress=$compress Verify=-1
    run /RUN "b$style" /EXIT
    check "$style job with every byte in its names: the run and its check pass" [ "$RC" -eq 0 ]
    run /VERIFY "b$style"
    check "$style job with every byte in its names: /VERIFY passes" [ "$RC" -eq 0 ]
    run /RESTORE "b$style" /TO "$WORK/out-$style"
    check "$style job with every byte in its names: /RESTORE exits 0" [ "$RC" -eq 0 ]
    if [ $style = zip ]; then restored="$WORK/out-zip$WORK/names"; else restored="$WORK/out-copy/names"; fi
    check "$style job with every byte in its names: every name and byte comes back" \
        diff -r "$WORK/names" "$restored"
done

# ---- other programs read Stowline's archives; every header carries its checksum ----
mkdir -p "$WORK/data/docs" "$WORK/bdmg"
printf 'alpha\n' >"$WORK/data/docs/a.txt"
printf 'bravo\n' >"$WORK/data/docs/b.txt"
head -c 300000 /dev/urandom >"$WORK/data/docs/c.bin"
write_job dmg "$WORK/bdmg/" "$WORK/data/" Compress=-1 Verify=-1
run /RUN dmg bzip /EXIT
check "a second run of the names job and the job to damage run" [ "$RC" -eq 0 ]
cat >"$WORK/fields.py" <<'PY'
import struct, sys, zlib, zipfile
path, password = sys.argv[1], sys.argv[2].encode()
data = open(path, "rb").read()
e = data.rfind(b"PK\x05\x06")
count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
p = off
for i in range(count):
    n, x, c = struct.unpack("<HHH", data[p + 28:p + 34])
    extra = data[p + 46 + n:p + 46 + n + x]
    fixed = bytearray(data[p:p + 46])
    fixed[42:46] = bytes(4)  # the local header offset counts as zero (no Zip64 here)
    others, field, q = b"", None, 0
    while q + 4 <= len(extra):
        fid, fl = struct.unpack("<HH", extra[q:q + 4])
        if fid == 0x4C53:
            field = extra[q + 4:q + 4 + fl]
        else:
            others += extra[q:q + 4 + fl]
        q += 4 + fl
    version, index, total, crc = struct.unpack("<BQQI", field)
    assert (version, index, total) == (1, i, count)
    tail = data[p + 46 + n + x:p + 46 + n + x + c]
    assert zlib.crc32(bytes(fixed) + data[p + 46:p + 46 + n] + others + tail + field[:17]) == crc
    p += 46 + n + x + c
z = zipfile.ZipFile(path)
z.setpassword(password)
sys.exit(0 if z.testzip() is None else 1)
PY
for archive in "$WORK/bdmg/dmg.zip" "$WORK/bzip/bzip_1.zip" "$WORK/bzip/bzip.zip"; do
    check "$(basename "$archive"): every header's checksum field holds; Python tests it whole" \
        python3 "$WORK/fields.py" "$archive" ""
    check "$(basename "$archive"): unzip tests it" sh -c "unzip -tq '$archive' >/dev/null"
    check "$(basename "$archive"): bsdtar lists it" sh -c "bsdtar -tf '$archive' >/dev/null"
done

# ---- damage the format does not see ----
# One bit of a.txt's external attributes: a regular file becomes a link to its own content.
python3 - "$WORK/bdmg/dmg.zip" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
p = data.find(b"PK\x01\x02")
while p >= 0:
    n = struct.unpack("<H", data[p + 28:p + 30])[0]
    if data[p + 46:p + 46 + n].endswith(b"/a.txt"):
        data[p + 41] ^= 0x20
        break
    p = data.find(b"PK\x01\x02", p + 4)
open(path, "wb").write(data)
PY
check "the zip format alone finds nothing wrong" sh -c "unzip -tq '$WORK/bdmg/dmg.zip' >/dev/null"
run /VERIFY dmg
check "/VERIFY exits 1 on a flipped type bit" [ "$RC" -eq 1 ]
check "/VERIFY names the damaged backup" contains "$WORK/out" "Verify failed for dmg"
run /RESTORE dmg /TO "$WORK/out-dmg"
check "/RESTORE of the flipped archive exits 1" [ "$RC" -eq 1 ]
check "the flipped entry is not restored, as a link or at all" \
    sh -c "[ ! -L '$WORK/out-dmg$WORK/data/docs/a.txt' ] && [ ! -e '$WORK/out-dmg$WORK/data/docs/a.txt' ]"
check "the flipped entry is named with its damage" contains "$WORK/out" "central directory damaged"
check "the sound entries are restored" cmp -s "$WORK/data/docs/b.txt" "$WORK/out-dmg$WORK/data/docs/b.txt"

# Two central headers for one local header: one entry's data listed twice.
python3 - "$WORK/bdmg/shared.zip" <<'PY'
import struct, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path, "w") as z:
    z.writestr("one.txt", "one" * 40)
    z.writestr("two.txt", "two" * 40)
data = bytearray(open(path, "rb").read())
e = data.rfind(b"PK\x05\x06")
count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
n, x, c = struct.unpack("<HHH", data[off + 28:off + 34])
first = bytes(data[off:off + 46 + n + x + c])
twin = first
data[e:e] = twin
e += len(twin)
data[e + 8:e + 16] = struct.pack("<HHI", count + 1, count + 1, size + len(twin))
open(path, "wb").write(data)
PY
run /RESTORE dmg /FROM "$WORK/bdmg/shared.zip" /TO "$WORK/out-shared"
check "/RESTORE of entries sharing data exits 1" [ "$RC" -eq 1 ]
check "the entries sharing data are named" contains "$WORK/out" "shares its data with another entry"
check "the entry of its own is restored" [ -f "$WORK/out-shared/two.txt" ]

# ---- directories that lie ----
# A Stowline archive and another program's, their central directories rewritten by hand: an
# entry pointed at another's data, sizes and a name the local header does not bear out, the
# directory cut short, "see Zip64" without the Zip64 records.
mkdir -p "$WORK/lies" "$WORK/blie"
write_job lie "$WORK/blie/" "$WORK/data/docs/" Compress=-1 Verify=-1
run /RUN lie /EXIT
check "the archive to rewrite is made" [ "$RC" -eq 0 ]
python3 - "$WORK/blie/lie.zip" "$WORK/lies" "$WORK/data/docs" <<'PY'
import struct, sys, zipfile
own, out, docs = sys.argv[1:]
def headers(data):
    e = data.rfind(b"PK\x05\x06")
    count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
    at, found = off, {}
    for i in range(count):
        n, x, c = struct.unpack("<HHH", data[at + 28:at + 34])
        found[data[at + 46:at + 46 + n].decode().split("/")[-1]] = at
        at += 46 + n + x + c
    return e, found
def write(name, data):
    open(out + "/" + name, "wb").write(data)
data = bytearray(open(own, "rb").read())
e, h = headers(data)
lie = bytearray(data)  # b.txt's record points at a.txt's local header (the checksum leaves the offset out)
lie[h["b.txt"] + 42:h["b.txt"] + 46] = data[h["a.txt"] + 42:h["a.txt"] + 46]
write("offset.zip", lie)
write("cut.zip", data[:h["c.bin"] + 20])  # the directory cut short, its end record gone
write("short.zip", data[:h["c.bin"] + 20] + data[e:])  # the end record kept: it reaches past the file
lie = bytearray(data)  # "see Zip64" without the Zip64 records
lie[e + 8:e + 20] = b"\xff" * 12
write("zip64.zip", lie)
with zipfile.ZipFile(out + "/other.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for n in ("a.txt", "b.txt", "c.bin"):
        z.write(docs + "/" + n, "docs/" + n)
other = bytearray(open(out + "/other.zip", "rb").read())
e, h = headers(other)
lie = bytearray(other)  # c.bin's compressed size reaches into the directory
lie[h["c.bin"] + 20:h["c.bin"] + 24] = struct.pack("<I", struct.unpack("<I", other[h["c.bin"] + 20:h["c.bin"] + 24])[0] + 200)
write("csize.zip", lie)
lie = bytearray(other)  # b.txt's name in the directory is not its local header's
lie[h["b.txt"] + 46 + 5:h["b.txt"] + 46 + 6] = b"z"
write("name.zip", lie)
PY
check "the lying archives are made" [ -f "$WORK/lies/name.zip" ]
for spec in "offset|b.txt|local header does not match|a.txt c.bin" "csize|c.bin|data runs past|a.txt b.txt" \
    "name|z.txt|local header does not match|a.txt c.bin"; do
    IFS='|' read -r kind bad why good <<<"$spec"
    run /RESTORE lie /FROM "$WORK/lies/$kind.zip" /TO "$WORK/out-$kind"
    check "$kind: /RESTORE exits 1" [ "$RC" -eq 1 ]
    check "$kind: the lying entry is named with why" grep -q "not restored: .*$bad: damaged: .*$why" "$WORK/out"
    check "$kind: the lying entry is not written" sh -c "! find '$WORK/out-$kind' -name '${bad%.*}*' | grep -q ."
    for f in $good; do
        check "$kind: $f is restored whole" cmp -s "$WORK/data/docs/$f" "$(find "$WORK/out-$kind" -name "$f")"
    done
done
for kind in cut short zip64; do
    run /RESTORE lie /FROM "$WORK/lies/$kind.zip" /TO "$WORK/out-$kind"
    check "$kind: /RESTORE refuses the whole archive" sh -c "[ $RC -eq 1 ] && grep -q 'cannot be read as an archive\|archive is damaged' '$WORK/err'"
    check "$kind: nothing is written" sh -c "[ -z \"\$(find '$WORK/out-$kind' -mindepth 1 2>/dev/null)\" ]"
done
# A pipe under an archive's name is refused, never waited on.
mkfifo "$WORK/lies/pipe.zip"
RUN_TIMEOUT=20 run /RESTORE lie /FROM "$WORK/lies/pipe.zip" /TO "$WORK/out-pipe"
check "a pipe named as the backup is refused at once" [ "$RC" -eq 1 ]

cli_end
