#!/usr/bin/env bash
# An encrypted backup against restic's (not a test): the same tree backed up two ways in one
# script, on a fresh loop-mounted ext4 with the page cache dropped before every timed run:
#   aes      a zip-style job with Encryption=AES256 (the password from the job file)
#   restic   `restic backup` into a new repository (restic encrypts every byte too)
# Each is a first backup into an empty target; wall time, CPU time (user + system), peak memory
# and bytes stored of the fastest of BENCH_REPEAT runs are printed, with aes / restic.
# (AES against the same run unencrypted is bench/bench_aes.sh.)
#
#   bench/bench_aes_restic.sh <path-to-stowline> home [N]     a home-like tree of N files
#                                                             (default 100,000)
#   bench/bench_aes_restic.sh <path-to-stowline>              the 5,000-file corpus
#
# Environment: BENCH_REPEAT (runs per way, default 3), BENCH_IMAGE_GB (size of the loop image,
# default 8), BENCH_CORPUS (an existing corpus folder, copied onto the fresh file system).
# restic is installed (Debian package) by this script when missing; the tests never need it.
# Without root (no loop mount, no cache drop) the script measures in /tmp and says so.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline> [home [N]]" >&2; exit 2; }
kind=${2:-default}
home_files=${3:-100000}
repeat=${BENCH_REPEAT:-3}
password='bench-Secret-9f2c'

if ! command -v restic >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get install -y --no-install-recommends restic >/dev/null ||
            { apt-get update >/dev/null && apt-get install -y --no-install-recommends restic >/dev/null; }
    fi
    command -v restic >/dev/null || { echo "restic is not installed and cannot be installed" >&2; exit 2; }
fi

work=$(mktemp -d /tmp/stowline-encbench-XXXXXX)
cleanup() {
    umount "$work/mnt" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/mnt" "$work/app/BackupJobs" "$work/run"
fs="fresh ext4 on a loop device, caches dropped before each run"
can_drop=0
if [ "$(id -u)" -eq 0 ] && truncate -s "${BENCH_IMAGE_GB:-8}G" "$work/img" && mkfs.ext4 -q "$work/img" &&
    mount -o loop "$work/img" "$work/mnt"; then
    can_drop=1
else
    fs="the file system of /tmp (no loop mount, caches not dropped)"
fi

corpus=$work/mnt/corpus
if [ -n "${BENCH_CORPUS:-}" ]; then
    cp -a "$BENCH_CORPUS" "$corpus"
elif [ "$kind" = home ]; then
    python3 "$root/../shared/bench/make-home-corpus" "$corpus" --files "$home_files" >/dev/null
else
    python3 "$root/../shared/bench/make-corpus" "$corpus" >/dev/null
fi

cp "$1" "$work/app/stowline"
S="$work/app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
chmod 700 "$work/run"
# The job file's Password value: the password with every byte XOR 0xA5, written as a blank and
# hexadecimal in quotes (the form that carries any byte).
scrambled=$(python3 -c 'import sys; print("".join("%02X" % (ord(c) ^ 0xA5) for c in sys.argv[1]))' "$password")
write_job() { # name, extra lines...
    local name=$1
    shift
    printf '%s\r\n' "[Config]" "JobName=$name" "Compress=-1" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" \
        "TargetDir=$work/mnt/out-$name/" "$@" "[Source]" "File_0=$corpus" >"$work/app/BackupJobs/$name.slj"
}
write_job aes "Password=\" $scrambled\"" "Encryption=AES256"

# measure <label> <command...>: one timed run after emptying the outputs and dropping caches;
# prints "wall cpu peak_kib".
measure() {
    local t0 t1
    rm -rf "$work/mnt/out-"* "$work/mnt/restic"
    mkdir -p "$work/mnt/out-aes"
    if [ "$1" = restic ]; then
        RESTIC_PASSWORD=$password restic init -q --repository-version 2 --repo "$work/mnt/restic" >/dev/null 2>&1 ||
            RESTIC_PASSWORD=$password restic init -q --repo "$work/mnt/restic" >/dev/null
    fi
    shift
    sync
    [ "$can_drop" = 1 ] && echo 3 >/proc/sys/vm/drop_caches
    t0=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1 ||
        { echo "run failed: $*" >&2; cat "$work/out.txt" >&2; exit 1; }
    t1=$(date +%s.%N)
    read -r user sys peak <"$work/time.txt"
    awk -v a="$t0" -v b="$t1" -v u="$user" -v s="$sys" -v m="$peak" 'BEGIN { printf "%.2f %.2f %d\n", b - a, u + s, m }'
}

best_of() { # label command...: the fastest of $repeat runs, "wall cpu peak"
    local best="" line
    for ((i = 0; i < repeat; ++i)); do
        line=$(measure "$@")
        if [ -z "$best" ] || (($(echo "${line%% *} < ${best%% *}" | bc))); then best=$line; fi
    done
    echo "$best"
}

files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
echo "corpus: $files files, $bytes bytes; on $fs; fastest of $repeat"
aes=$(best_of aes "$S" /RUN aes /EXIT)
# The aes run's archive must really be AES: checked once, outside the timing.
python3 - "$work/mnt/out-aes/aes.zip" <<'PY' || { echo "the aes archive is not AES-256" >&2; exit 1; }
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    infos = [i for i in z.infolist() if not i.is_dir()]
    assert infos and all(i.compress_type == 99 for i in infos)
PY
7z t -bso0 -bse0 "-p$password" "$work/mnt/out-aes/aes.zip" || { echo "7z does not open the aes archive" >&2; exit 1; }
stored_aes=$(du -sb "$work/mnt/out-aes" | cut -f1)
restic_line=$(best_of restic env RESTIC_PASSWORD="$password" restic backup -q --repo "$work/mnt/restic" "$corpus")

stored_restic=$(du -sb "$work/mnt/restic" | cut -f1)
printf '%-8s %9s %9s %12s %14s\n' way "wall s" "cpu s" "peak KiB" "stored bytes"
read -r wall cpu peak <<<"$aes"
printf '%-8s %9.2f %9.2f %12d %14d\n' aes "$wall" "$cpu" "$peak" "$stored_aes"
read -r wall cpu peak <<<"$restic_line"
printf '%-8s %9.2f %9.2f %12d %14d\n' restic "$wall" "$cpu" "$peak" "$stored_restic"
printf 'aes / restic (wall): %.2f\n' "$(echo "${aes%% *} / ${restic_line%% *}" | bc -l)"
