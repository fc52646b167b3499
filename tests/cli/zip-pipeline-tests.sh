#!/usr/bin/env bash
# The zip run's pipeline and the verify's readers from outside, through the real program: a tree
# of many small files, long files of every kind (deflated in pieces on several workers), empty
# files and links is backed up with the check after the run; the archive holds every entry in
# walk order with the source's bytes and passes unzip, bsdtar and Python's zipfile, also when the
# process may open few files. Then two entries are damaged: /VERIFY names the one first in entry
# order.
# Usage: zip-pipeline-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin zippipe "$@"
LOG="$WORK/stowline.log"
log_has_line() { tr -d '\r' <"$LOG" | cut -c22- | grep -qxF -- "$1"; }
contains() { grep -qF -- "$2" "$1"; }
for tool in unzip bsdtar python3; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

SRC="$WORK/data"
python3 - "$SRC" <<'PY'
import os, random, sys
top = sys.argv[1]
rnd = random.Random(26)
for i in range(900):
    d = os.path.join(top, "d%d" % (i % 9), "e%d" % (i % 4))
    os.makedirs(d, exist_ok=True)
    words = " ".join(rnd.choice(["alpha", "beta", "gamma", "delta", str(i)]) for _ in range(rnd.randint(0, 900)))
    open(os.path.join(d, "f%03d.txt" % i), "w").write(words)
# Long files: compressible, random, and both; around and past the size deflated whole.
os.makedirs(os.path.join(top, "long"), exist_ok=True)
open(os.path.join(top, "long", "text.log"), "w").write("".join("record %d status %d\n" % (n, n % 7) for n in range(400000)))
open(os.path.join(top, "long", "noise.bin"), "wb").write(os.urandom(5 << 20))
open(os.path.join(top, "long", "mixed.img"), "wb").write(os.urandom(1 << 20) + bytes(3 << 20) + os.urandom(12345))
open(os.path.join(top, "long", "exact.bin"), "wb").write(os.urandom(1 << 20))
open(os.path.join(top, "d1", "empty.txt"), "w").close()
os.symlink("../long/text.log", os.path.join(top, "d2", "to-log"))
PY

printf '%s\r\n' "[Config]" "JobName=pipe" "Compress=-1" "CopyStyle=0" "KeepCount=3" "KeepPeriod=Copies" \
    "ParseSubDir=-1" "Incremental=0" "Verify=-1" "TargetDir=$WORK/t/" "[Source]" "File_0=$SRC" "[Exclude]" \
    "[OneShot]" >"$JOBS/pipe.slj"
mkdir -p "$WORK/t"
ZIP="$WORK/t/pipe.zip"
run /RUN pipe /EXIT
check "the run succeeds" [ "$RC" -eq 0 ]
check "the check after the run passed" log_has_line "  Verified the new backup"
check "unzip -t passes" unzip -tqq "$ZIP"
check "bsdtar lists it" sh -c "bsdtar -tf '$ZIP' >/dev/null"
if command -v 7z >/dev/null; then
    check "7z t passes" sh -c "7z t '$ZIP' | grep -q '^Everything is Ok'"
else
    echo "skip - 7z is missing"
fi

# Every entry in walk order (a folder, its files by name, then its subfolders by name), each
# file's bytes and each link's target as in the source, and nothing more.
in_walk_order_with_the_source_bytes() {
    python3 - "$ZIP" "$SRC" <<'PY'
import os, sys, zipfile
path, src = sys.argv[1], sys.argv[2]
top = src.lstrip("/")
expected = []
def walk(folder, stored):
    expected.append(stored + "/")
    names = sorted(os.listdir(folder))
    for n in names:
        if not os.path.isdir(os.path.join(folder, n)) or os.path.islink(os.path.join(folder, n)):
            expected.append(stored + "/" + n)
    for n in names:
        p = os.path.join(folder, n)
        if os.path.isdir(p) and not os.path.islink(p):
            walk(p, stored + "/" + n)
walk(src, top)
with zipfile.ZipFile(path) as z:
    got = [i.filename for i in z.infolist()]
    if got != expected:
        print("order differs:", [(a, b) for a, b in zip(got, expected) if a != b][:3], len(got), len(expected))
        sys.exit(1)
    for i in z.infolist():
        p = "/" + i.filename
        if i.filename.endswith("/"):
            continue
        want = os.readlink(p).encode() if os.path.islink(p) else open(p, "rb").read()
        if z.read(i) != want:
            print("bytes differ:", i.filename)
            sys.exit(1)
PY
}
check "every entry in walk order with the source's bytes" in_walk_order_with_the_source_bytes

run /VERIFY pipe
check "/VERIFY passes the sound archive" [ "$RC" -eq 0 ]

# Few descriptors to spare: the files opened ahead of their reading never crowd one out.
if command -v prlimit >/dev/null; then
    sed "s#TargetDir=$WORK/t/#TargetDir=$WORK/t2/#; s#JobName=pipe#JobName=few#" "$JOBS/pipe.slj" >"$JOBS/few.slj"
    mkdir -p "$WORK/t2"
    : >"$LOG"
    timeout "$RUN_TIMEOUT" prlimit --nofile=40 "$S" /RUN few /EXIT >"$WORK/out" 2>"$WORK/err"
    RC=$?
    check "with 40 descriptors the run succeeds" [ "$RC" -eq 0 ]
    check "and leaves no file out" sh -c "! grep -q 'Not backed up' '$LOG'"
    check "and its check passes" log_has_line "  Verified the new backup"
else
    echo "skip - prlimit is missing: the run with few descriptors"
fi

# Two entries damaged in their data (the later one first): the first in entry order is named, as
# a check of one entry after the other names it, however far ahead the readers went.
python3 "$ZIPCHECK/flip_data.py" "$ZIP" "${SRC#/}/d7/e3/f799.txt" "${SRC#/}/d3/e1/f021.txt"
run /VERIFY pipe
check "/VERIFY of the damaged archive exits 1" [ "$RC" -eq 1 ]
check "it names the entry first in entry order" contains "$WORK/out" "Verify failed for pipe ($ZIP): '${SRC#/}/d3/e1/f021.txt': "
check "and not the later one" sh -c "! grep -qF 'f799.txt' '$WORK/out'"
check "the log names it too" sh -c "tr -d '\r' <'$LOG' | grep -qF \"  Verify failed: '${SRC#/}/d3/e1/f021.txt': \""

cli_end
