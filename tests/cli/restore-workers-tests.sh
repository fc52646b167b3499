#!/usr/bin/env bash
# /RESTORE of many files, which the restore writes on several threads, through the real
# executable for a zip and a copy backup made by real runs: every file comes back byte for byte
# with its mode and time; the log names the files in the backup's own order; existing files in
# the middle of the tree are kept or replaced as the choice says; a restore killed at several
# points never leaves a partial file under a final name, and the next restore into that folder
# removes what the killed one left and completes it.
# Usage: restore-workers-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin rworkers "$@"


# A tree of 2,400 files in 24 folders: empty, small, compressible and random files, a few of
# several MiB (read in many pieces), and every mode a restore gives back.
python3 - "$WORK/src" <<'PY'
import os, random, sys
top = sys.argv[1]
rnd = random.Random(7)
modes = [0o644, 0o600, 0o755, 0o640, 0o444, 0o700]
for d in range(24):
    folder = os.path.join(top, "d%02d" % d, "sub" if d % 3 == 0 else "")
    os.makedirs(folder, exist_ok=True)
    for f in range(100):
        kind = (d * 100 + f) % 7
        if kind == 0:
            data = b""
        elif kind in (1, 2):
            data = ("line %d of file %d\n" % (f, d) * rnd.randint(1, 400)).encode()
        elif kind == 3:
            data = rnd.randbytes(rnd.randint(1, 70000))
        else:
            data = rnd.randbytes(rnd.randint(1, 3000))
        if d in (5, 17) and f < 3:
            data = rnd.randbytes(3 << 20) + b"tail" * 100000
        p = os.path.join(folder, "f%03d.%s" % (f, "txt" if kind in (1, 2) else "bin"))
        with open(p, "wb") as out:
            out.write(data)
        os.chmod(p, modes[f % len(modes)])
        when = 1500000000 + d * 86400 + f * 61
        os.utime(p, ns=(when * 10**9 + 123456789, when * 10**9 + 123456789))
PY
mkdir -p "$WORK/tzip" "$WORK/tcopy"
write_job wzip "$WORK/tzip/" "$WORK/src" Compress=-1
write_job wcopy "$WORK/tcopy/" "$WORK/src" Compress=0
run /RUN wzip /RUN wcopy /EXIT
check "the backups ran" [ "$RC" -eq 0 ]
ARCHIVE=$(ls "$WORK"/tzip/*.zip | head -1)

where_restored() { # job, folder restored into: where the source's files are below it
    if [ "$1" = wzip ]; then echo "$2/${WORK#/}/src"; else echo "$2/src"; fi
}
# Every file of the source under the folder, with its bytes, permission bits and time (whole
# seconds for an archive, which keeps no more), and nothing else than folders besides.
same_tree() { # source, restored, "s" or "ns"
    python3 - "$@" <<'PY'
import os, stat, sys
src, got, unit = sys.argv[1:4]
def files(top):
    out = {}
    for d, dirs, names in os.walk(top):
        for n in names:
            p = os.path.join(d, n)
            st = os.lstat(p)
            t = st.st_mtime_ns if unit == "ns" else st.st_mtime_ns // 10**9
            with open(p, "rb") as f:
                out[os.path.relpath(p, top)] = (f.read(), stat.S_IMODE(st.st_mode), t)
    return out
a, b = files(src), files(got)
bad = [k for k in a if a[k] != b.get(k)] + [k for k in b if k not in a]
for k in bad[:5]:
    print("differs:", k, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}
restored_lines() { # job: the files its last restore logged, in the log's order
    awk -v job="-- Restore $1 --" '
        index($0, "-- Restore ") { on = index($0, job) > 0; if (on) n = 0; next }
        on && index($0, "  Restored '"'"'") { line[++n] = $0 }
        END { for (i = 1; i <= n; i++) print line[i] }' <(tr -d '\r' <"$WORK/stowline.log") |
        sed "s/^.*  Restored '\(.*\)'\$/\1/"
}

# --- everything back, in order --------------------------------------------------------------------
for job in wzip wcopy; do
    TO="$WORK/out-$job"
    run /RESTORE "$job" /TO "$TO" /EXIT
    check "$job: the restore succeeds" [ "$RC" -eq 0 ]
    check "$job: it says 2400 files were restored" grep -q "restored 2400 files" "$WORK/out"
    unit=ns
    [ "$job" = wzip ] && unit=s
    check "$job: every file is back with its bytes, mode and time" same_tree "$WORK/src" "$(where_restored "$job" "$TO")" "$unit"
    check "$job: no temporary file is left" [ -z "$(find "$TO" -name '.stowline-restore-*')" ]
done
# The archive's order of files, and the copy tree's walk (names in byte order, folders where
# their name falls), are the order of the log's lines.
python3 - "$ARCHIVE" "$WORK/out-wzip/" >"$WORK/zip-order" <<'PY'
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    if not i.filename.endswith("/"):
        print(sys.argv[2] + i.filename)
PY
python3 - "$WORK/tcopy/src" "$WORK/out-wcopy/src/" >"$WORK/copy-order" <<'PY'
import os, sys
def walk(top, rel):
    for n in sorted(os.listdir(top), key=os.fsencode):
        p = os.path.join(top, n)
        if os.path.isdir(p) and not os.path.islink(p):
            walk(p, rel + n + "/")
        else:
            print(sys.argv[2] + rel + n)
walk(sys.argv[1], "")
PY
check "zip: the log names the files in the archive's order" \
    sh -c "[ \"\$(wc -l <'$WORK/zip-order')\" -eq 2400 ] && [ \"$(restored_lines wzip | md5sum)\" = \"\$(md5sum <'$WORK/zip-order')\" ]"
check "copy: the log names the files in the copy tree's order" \
    sh -c "[ \"\$(wc -l <'$WORK/copy-order')\" -eq 2400 ] && [ \"$(restored_lines wcopy | md5sum)\" = \"\$(md5sum <'$WORK/copy-order')\" ]"

# --- existing files in the middle of the tree ----------------------------------------------------
for job in wzip wcopy; do
    TO="$WORK/conflict-$job"
    AT=$(where_restored "$job" "$TO")
    mkdir -p "$AT/d11" "$AT/d13"
    for f in d11/f010.bin d11/f050.txt d13/f020.bin; do printf 'mine\n' >"$AT/$f"; done
    run /RESTORE "$job" /TO "$TO" /EXIT
    check "$job: three existing files are skipped" grep -q "restored 2397 files .*skipped 3 existing" "$WORK/out"
    check "$job: the existing files keep their contents" \
        sh -c "[ \"\$(cat '$AT/d11/f010.bin' '$AT/d11/f050.txt' '$AT/d13/f020.bin')\" = \"\$(printf 'mine\nmine\nmine')\" ]"
    check "$job: their neighbours are restored" cmp -s "$AT/d11/f011.bin" "$WORK/src/d11/f011.bin"
    run /RESTORE "$job" /TO "$TO" /OVERWRITE /EXIT
    check "$job: with /OVERWRITE all are replaced" grep -q "restored 2400 files" "$WORK/out"
    unit=ns
    [ "$job" = wzip ] && unit=s
    check "$job: the tree is then the source" same_tree "$WORK/src" "$AT" "$unit"
done

# --- killed at several points ---------------------------------------------------------------------
# Each file under a final name is whole; names the restore gives its temporary files are the only
# others allowed.
whole_or_temporary() { # source, restored
    python3 - "$@" <<'PY'
import os, sys
src, got = sys.argv[1:3]
bad = []
for d, dirs, names in os.walk(got):
    for n in names:
        p = os.path.join(d, n)
        if n.startswith(".stowline-restore-"):
            continue
        with open(p, "rb") as a, open(os.path.join(src, os.path.relpath(p, got)), "rb") as b:
            if a.read() != b.read():
                bad.append(p)
for p in bad[:5]:
    print("partial:", p, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}
count_files() { find "$1" -type f 2>/dev/null | wc -l; }
for job in wzip wcopy; do
    for point in 1 300 1200 2000; do
        TO="$WORK/kill-$job-$point"
        AT=$(where_restored "$job" "$TO")
        "$S" /RESTORE "$job" /TO "$TO" /EXIT >/dev/null 2>&1 &
        pid=$!
        # Killed once that many files have names in the folder (or it ended first).
        while kill -0 "$pid" 2>/dev/null && [ "$(count_files "$TO")" -lt "$point" ]; do sleep 0.01; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        check "$job killed after $point: no partial file under a final name" whole_or_temporary "$WORK/src" "$AT"
    done
    # The next restore removes the killed one's temporary files and completes the tree.
    run /RESTORE "$job" /TO "$TO" /EXIT
    check "$job: the restore after the kill succeeds" [ "$RC" -eq 0 ]
    check "$job: it leaves no temporary file" [ -z "$(find "$TO" -name '.stowline-restore-*')" ]
    check "$job: the tree is then whole" same_tree "$WORK/src" "$AT" "$([ "$job" = wzip ] && echo s || echo ns)"
done

cli_end
