#!/usr/bin/env bash
# Off-site upload speed (not a test): Stowline's off-site step for a zip job (upload under a
# temporary name, check, move to the dated name) against `rclone copyto` of the same archive to
# the same server by hand. The archive is the corpus zipped by a real Stowline run; the server is
# `rclone serve sftp` on 127.0.0.1 (user and password through a bench rclone config) serving a
# folder on a fresh ext4 file system on a loop device (when run as root; else a temporary folder,
# said in the output). Goal: ratio <= 1.1.
#
#   bench/bench_offsite.sh <path-to-stowline> [<path-to-bench_offsite>]
#
# The off-site step is timed through the bench_offsite driver (target bench_offsite), which calls
# the engine's step exactly as a run does; by default it is looked for beside the binary's build.
# Environment: BENCH_CORPUS (an existing corpus folder), CORPUS_ARGS (make-corpus arguments,
# default: its 5,000-file corpus), BENCH_REPEAT (runs per command, the fastest counts; default 3).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
repeat=${BENCH_REPEAT:-3}
[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: $0 <path-to-stowline> [<path-to-bench_offsite>]" >&2; exit 2; }
stowline=$(readlink -f "$1")
driver=${2:-}
if [ -z "$driver" ]; then
    for candidate in "$(dirname "$stowline")/bench/bench_offsite" "$(dirname "$stowline")/../bench/bench_offsite"; do
        [ -x "$candidate" ] && driver=$(readlink -f "$candidate") && break
    done
fi
[ -n "$driver" ] && [ -x "$driver" ] || { echo "build the bench_offsite target first" >&2; exit 2; }
command -v rclone >/dev/null || { echo "missing tool: rclone" >&2; exit 2; }

work=$(mktemp -d /tmp/stowline-offsitebench-XXXXXX)
server_pid=
mounted=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$mounted" ] && umount "$mounted"
    rm -rf "$work"
}
trap cleanup EXIT

# The server's folder: a fresh ext4 file system of its own, so that other files and caches of
# the machine do not share it.
served=$work/served
mkdir -p "$served"
if [ "$(id -u)" -eq 0 ] && truncate -s 3G "$work/disk.img" && mkfs.ext4 -q -F "$work/disk.img" &&
    mount -o loop "$work/disk.img" "$served"; then
    mounted=$served
    fs_note="fresh ext4 on a loop device"
else
    fs_note="a folder in $(df --output=fstype "$work" | tail -1) (not root: no loop device)"
fi

corpus=${BENCH_CORPUS:-$work/corpus}
if [ -z "${BENCH_CORPUS:-}" ]; then
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:-} "$corpus" >/dev/null
fi

# The corpus's archive, made by a real run of a zip job.
mkdir -p "$work/app/BackupJobs" "$work/run" "$work/target"
cp "$stowline" "$work/app/stowline"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
chmod 700 "$work/run"
printf '%s\r\n' "[Config]" "JobName=corpus" "Compress=-1" "CopyStyle=0" "ParseSubDir=-1" "KeepCount=0" \
    "KeepPeriod=Copies" "TargetDir=$work/target/" "[Source]" "File_0=$corpus" >"$work/app/BackupJobs/corpus.slj"
"$work/app/stowline" /RUN corpus /EXIT >/dev/null || { echo "the corpus archive was not made" >&2; exit 1; }
archive=$work/target/corpus.zip
[ -f "$archive" ] || { echo "the corpus archive was not made" >&2; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# No directory cache in the server: what is emptied between runs is gone for both at once.
rclone serve sftp --dir-cache-time 0s --addr "127.0.0.1:$port" --user bench --pass 'bench pass' "$served" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
printf '%s\n' "[nas]" "type = sftp" "host = 127.0.0.1" "port = $port" "user = bench" \
    "pass = $(rclone obscure 'bench pass')" >"$work/rclone.conf"
export RCLONE_CONFIG=$work/rclone.conf
rclone mkdir nas:hand
rclone mkdir nas:stowline

seconds() { # runs a command, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/last.out" 2>&1 || { cat "$work/last.out" >&2; grep -a "failed" "$work/target/stowline.log" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
min() { if [ -z "$1" ] || (($(echo "$2 < $1" | bc))); then echo "$2"; else echo "$1"; fi; }
empty_remote() { find "$served/hand" "$served/stowline" -mindepth 1 -delete; sync; }

t_hand="" t_stow=""
for ((i = 0; i < repeat; ++i)); do
    # Both from the page cache on the same footing, in turns.
    cat "$archive" >/dev/null
    empty_remote
    t_hand=$(min "$t_hand" "$(seconds rclone copyto -- "$archive" nas:hand/corpus.zip)")
    empty_remote
    t_stow=$(min "$t_stow" "$(seconds "$driver" "$archive" nas:stowline)")
done
cmp "$archive" "$served/stowline/bench/"bench_*.zip || { echo "the uploaded archive differs" >&2; exit 1; }
grep -aF "Off-site copy checked by" "$work/target/stowline.log" | tail -1 | sed 's/^.*  Off-site/checked:/'

files=$(find "$corpus" -type f | wc -l)
echo "corpus: $files files; archive $(du -m "$archive" | cut -f1) MB; server on $fs_note; fastest of $repeat"
printf '%-34s %10s %14s %8s\n' "" "stowline" "rclone copyto" ratio
ratio=$(echo "scale=3; $t_stow / $t_hand" | bc)
printf '%-34s %10.2f %14.2f %8.3f\n' "off-site upload of the archive (s)" "$t_stow" "$t_hand" "$ratio"
if (($(echo "$ratio <= 1.1" | bc))); then echo "goal <= 1.1: met"; else echo "goal <= 1.1: NOT met"; fi
