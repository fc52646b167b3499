#!/usr/bin/env bash
# Stowline side by side with restic and borg (not a test), all in one script on one tree, on a
# fresh loop-mounted ext4 with the caches dropped before every timed run:
#   zip      a zip-style job (compressed, incremental: a second run with nothing changed writes
#            no archive)
#   copy     a copy-style job: a Rebuild into an empty target first, then a no-change
#            incremental Update (the run the earlier copy figures call "no-change incremental")
#   restic   `restic backup` into a new version 2 repository (compressed, encrypted)
#   borg     `borg create` into a new repository without encryption (lz4, borg's default)
# For each: the first backup, a second backup with nothing changed, and a full restore into an
# empty folder (`stowline /RESTORE <job> /TO <folder>`, `restic restore latest --target`, `borg
# extract` in the folder), each timed once: wall time, CPU time (user + system), peak memory
# (maximum resident set, `/usr/bin/time`); and the bytes the repository or target takes on disk
# (`du -s`) after the second backup. Every restore is compared with the source (a sorted list of
# names, checksums and link targets, outside the timing): a fast wrong restore is no figure. The table at the end gives Stowline's
# figures over restic's and over borg's.
#
#   bench/bench_peers.sh <path-to-stowline> [N]      a home-like tree of N files (default 100,000)
#
# Environment: BENCH_CORPUS (an existing corpus folder, copied onto the fresh file system),
# BENCH_IMAGE_GB (size of the loop image, default 16), BENCH_TOOLS (the ways to run, default
# "zip copy restic borg"), BENCH_KEEP=1 (keep the work folder), BENCH_LOOP_IO (default direct:
# the loop device reads its image with direct I/O, so that every tool meets one page cache and one
# read-ahead, as on a disk; "buffered" puts the image file's own cache and read-ahead beneath).
# restic and borg are installed (Debian packages) by this script when missing; the tests never
# need them. Needs root (loop mount, dropping caches).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=bench/bench-common.sh
. "$here/bench-common.sh"

[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline> [N]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root (loop mount, dropping caches)" >&2; exit 2; }
bin=$(readlink -f "$1")
files=${2:-100000}
tools=${BENCH_TOOLS:-zip copy restic borg}
for tool in /usr/bin/time python3 mkfs.ext4; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
case " $tools " in *" restic "*) bench_need restic restic ;; esac
case " $tools " in *" borg "*) bench_need borg borgbackup ;; esac

work=$(mktemp -d /tmp/stowline-peerbench-XXXXXX)
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    if [ -n "${BENCH_KEEP:-}" ]; then echo "kept: $work (the image: $work/img)"; else rm -rf "$work"; fi
}
trap cleanup EXIT
BENCH_LOOP_IO=${BENCH_LOOP_IO:-direct}
bench_mount_fresh "$work/img" "$work/mnt" "${BENCH_IMAGE_GB:-16}" 2000000
mnt=$work/mnt
corpus=$mnt/corpus
if [ -n "${BENCH_CORPUS:-}" ]; then
    cp -a "$BENCH_CORPUS" "$corpus"
else
    python3 "$root/../shared/bench/make-home-corpus" "$corpus" --files "$files" >/dev/null
fi

# Every tool gets the same private home (its caches and settings) outside the measured file
# system, and no display.
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app/BackupJobs"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export RESTIC_PASSWORD='bench-Secret-9f2c' RESTIC_CACHE_DIR=$HOME/.cache/restic
export BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes BORG_RELOCATED_REPO_ACCESS_IS_OK=yes

cp "$bin" "$work/app/stowline"
S=$work/app/stowline
bench_write_job "$work/app/BackupJobs" zip "$mnt/zip" "$corpus" "Compress=-1" "Incremental=-1"
bench_write_job "$work/app/BackupJobs" copyfirst "$mnt/copy" "$corpus/" "Compress=0" "CopyStyle=0" "Incremental=-1"
bench_write_job "$work/app/BackupJobs" copy "$mnt/copy" "$corpus/" "Compress=0" "CopyStyle=1" "Incremental=-1"

# The commands of each way: its set-up (not timed), first and second backup, and restore into
# the folder $dest (made empty before, the restore's working folder).
setup() {
    case $1 in
    zip | copy) mkdir -p "$mnt/$1" ;;
    restic) restic init -q --repository-version 2 --repo "$mnt/restic" >/dev/null ;;
    borg) borg init --encryption=none "$mnt/borg" >/dev/null 2>&1 ;;
    esac
}
first() {
    case $1 in
    zip) "$S" /RUN zip /EXIT ;;
    copy) "$S" /RUN copyfirst /EXIT ;;
    restic) restic backup -q --repo "$mnt/restic" "$corpus" ;;
    borg) borg create "$mnt/borg::first" "$corpus" ;;
    esac
}
second() {
    case $1 in
    zip) "$S" /RUN zip /EXIT ;;
    copy) "$S" /RUN copy /EXIT ;;
    restic) restic backup -q --repo "$mnt/restic" "$corpus" ;;
    borg) borg create "$mnt/borg::second" "$corpus" ;;
    esac
}
restore() {
    case $1 in
    zip | copy) "$S" /RESTORE "$1" /TO "$dest" /EXIT ;;
    restic) restic restore -q latest --repo "$mnt/restic" --target "$dest" ;;
    borg) (cd "$dest" && borg extract "$mnt/borg::second") ;;
    esac
}
export -f first second restore
export S mnt corpus

# Where a restore put the tree: restic and borg keep the whole source path, Stowline the
# source folder's name (the zip style) or its contents under that name (the copy style).
restored_root() { # dest
    local c
    for c in "$1$corpus" "$1/$(basename "$corpus")" "$1"; do
        [ -d "$c" ] && [ -n "$(ls -A "$c")" ] && { echo "$c"; return; }
    done
    echo "$1"
}
# The restored tree must be the source: every file's name and bytes, every link's target, no
# entry more. A folder with nothing but folders below it is the one thing a zip archive written
# without folder entries cannot carry: such folders missing are counted and named in the output,
# not taken for a wrong restore.
manifest() { # folder: one line an entry, sorted: "<kind> <sha256 or link target> <path>"
    python3 - "$1" <<'PY'
import hashlib, os, sys
top = sys.argv[1]
out = []
for d, dirs, files in os.walk(top):
    for name in dirs + files:
        p = os.path.join(d, name)
        rel = os.path.relpath(p, top).encode("utf-8", "surrogateescape").hex()
        if os.path.islink(p):
            out.append("l %s %s" % (os.readlink(p).encode("utf-8", "surrogateescape").hex(), rel))
        elif os.path.isdir(p):
            out.append("d - %s" % rel)
        else:
            h = hashlib.sha256()
            with open(p, "rb") as f:
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    h.update(chunk)
            out.append("f %s %s" % (h.hexdigest(), rel))
sys.stdout.write("".join(sorted(line + "\n" for line in out)))
PY
}
check_restore() { # tool
    local got missing
    got=$(restored_root "$dest")
    manifest "$got" >"$work/got.txt"
    if ! diff <(grep -v '^d ' "$work/source.txt") <(grep -v '^d ' "$work/got.txt") >"$work/diff.txt" ||
        [ -n "$(LC_ALL=C comm -13 "$work/source.txt" "$work/got.txt")" ]; then
        echo "the $1 restore differs from the source ($got):" >&2
        head -20 "$work/diff.txt" >&2
        LC_ALL=C comm -13 "$work/source.txt" "$work/got.txt" | head -5 >&2
        exit 1
    fi
    missing=$(LC_ALL=C comm -23 "$work/source.txt" "$work/got.txt" | wc -l)
    printf -v "folders_$1" '%s' "$missing"
}

# A no-change run must have done nothing: no second archive, no file copied.
no_change_check() { # tool
    case $1 in
    zip) [ "$(find "$mnt/zip" -maxdepth 1 -name '*.zip' | wc -l)" = 1 ] ||
        { echo "the no-change zip run wrote another archive" >&2; exit 1; } ;;
    copy) grep -a 'Copied [0-9]* files' "$work/app/stowline.log" | tail -1 | grep -q 'Copied 0 files' ||
        { echo "the no-change copy run copied files" >&2; exit 1; } ;;
    esac
}

timed() { # tool, step: one timed run after dropping the caches; sets <step>_<tool>
    bench_drop_caches
    local line
    line=$(bench_timed "$work/out-$1-$2.txt" bash -c "$2 $1") || exit 1
    printf -v "$2_$1" '%s' "$line"
}

manifest "$corpus" >"$work/source.txt"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
nfiles=$(find "$corpus" -type f | wc -l)
echo "corpus: $nfiles files, $(du -sb "$corpus" | cut -f1) bytes; fresh ext4 on a loop device ($BENCH_LOOP_IO I/O), caches dropped before each run"
echo "tools: $(restic version 2>/dev/null | cut -d' ' -f1-2 || true); $(borg --version 2>/dev/null || true); nproc $(nproc)"
for tool in $tools; do
    setup "$tool"
    timed "$tool" first
    timed "$tool" second
    no_change_check "$tool"
    stored=$(du -s --block-size=1 "$mnt/$tool" | cut -f1)
    printf -v "stored_$tool" '%s' "$stored"
    dest=$mnt/restore-$tool
    export dest
    mkdir -p "$dest"
    timed "$tool" restore
    check_restore "$tool"
    f="first_$tool" n="second_$tool" r="restore_$tool"
    m="folders_$tool"
    echo "$tool (wall cpu peak-KiB): first ${!f}; second ${!n}; restore ${!r}; stored $stored bytes;" \
        "restore checked$([ "${!m}" = 0 ] || echo ", ${!m} folders without files not restored")"
    rm -rf "$dest" "${mnt:?}/$tool" "$HOME/.cache"
done

# The table: one row a figure, one column a way, then Stowline over each peer.
field() { # "wall cpu peak" index
    local a
    read -r -a a <<<"$1"
    echo "${a[$2]}"
}
has() { case " $tools " in *" $1 "*) return 0 ;; esac; return 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else print "-" }'; }
value() { # step tool index
    local v="${1}_$2"
    [ -n "${!v:-}" ] || { echo ""; return; }
    field "${!v}" "$3"
}
echo
printf '%-22s' figure
for tool in $tools; do printf ' %12s' "$tool"; done
for p in restic borg; do for s in zip copy; do
    if has "$s" && has "$p"; then printf ' %12s' "$s/$p"; fi
done; done
echo
row() { # label, then one value per tool (empty for none)
    local label=$1
    shift
    declare -A v=()
    local i=0
    for tool in $tools; do
        i=$((i + 1))
        v[$tool]=${!i}
    done
    printf '%-22s' "$label"
    for tool in $tools; do printf ' %12s' "${v[$tool]:--}"; done
    for p in restic borg; do for s in zip copy; do
        if has "$s" && has "$p"; then printf ' %12s' "$(ratio "${v[$s]}" "${v[$p]}")"; fi
    done; done
    echo
}
for step in first second restore; do
    for what in "wall s:0" "cpu s:1" "peak MiB:2"; do
        vals=()
        for tool in $tools; do
            x=$(value "$step" "$tool" "${what#*:}")
            [ "${what#*:}" = 2 ] && [ -n "$x" ] && x=$(awk -v k="$x" 'BEGIN { printf "%.1f", k / 1024 }')
            vals+=("$x")
        done
        row "$step ${what%:*}" "${vals[@]}"
    done
done
vals=()
for tool in $tools; do
    sv="stored_$tool"
    vals+=("$(awk -v b="${!sv}" 'BEGIN { printf "%.1f", b / 1048576 }')")
done
row "stored MiB" "${vals[@]}"
# The goals: restore at most 0.7x restic's with a peak of at most 64 MiB, the first zip backup at
# most 0.5x restic's, the first and the no-change backups ahead of borg.
goal() { # label, value, limit
    [ -n "$2" ] && [ "$2" != - ] || return 0
    printf '  %-40s %6s  goal <= %-5s %s\n' "$1" "$2" "$3" "$(awk -v v="$2" -v l="$3" 'BEGIN { print (v <= l) ? "met" : "NOT MET" }')"
}
wall() { value "$1" "$2" 0; }
peak() { local k; k=$(value "$1" "$2" 2); [ -z "$k" ] || awk -v k="$k" 'BEGIN { printf "%.1f", k / 1024 }'; }
echo
echo "goals (wall time ratios):"
for s in zip copy; do
    has "$s" || continue
    has restic && goal "$s restore / restic restore" "$(ratio "$(wall restore "$s")" "$(wall restore restic)")" 0.7
    goal "$s restore peak MiB" "$(peak restore "$s")" 64
    has restic && [ "$s" = zip ] && goal "zip first backup / restic" "$(ratio "$(wall first zip)" "$(wall first restic)")" 0.5
    if has borg; then
        goal "$s first backup / borg" "$(ratio "$(wall first "$s")" "$(wall first borg)")" 1
        goal "$s no-change backup / borg" "$(ratio "$(wall second "$s")" "$(wall second borg)")" 1
    fi
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) (before: $load_before)"
echo
echo "(first: an empty repository or target; second: nothing changed; restore: the whole tree into an"
echo " empty folder, checked against the source's checksums; stored: du -s after the second backup)"
