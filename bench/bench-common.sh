# shellcheck shell=bash
# Helpers shared by the bench scripts (sourced, not run). Each keeps to what a benchmark needs:
# a fresh file system, cold caches, the tools it compares against, and one timed run.

# bench_need <command> <Debian package>: installs the package when the command is missing (as
# root, with apt-get); fails with a message when it still is. Only benchmarks call this: the
# tests never install anything.
bench_need() {
    command -v "$1" >/dev/null && return 0
    if [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$2" >/dev/null 2>&1 ||
            { apt-get update >/dev/null 2>&1 &&
                DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$2" >/dev/null; }
    fi
    command -v "$1" >/dev/null || { echo "$1 is not installed and cannot be installed ($2)" >&2; return 2; }
}

# bench_mount_fresh <image file> <mount point> <size GiB> [inodes]: a new ext4 on a loop device,
# so that no other files or caches share the file system being measured. Needs root. With
# BENCH_LOOP_IO=direct the loop device reads and writes its image with direct I/O: the blocks are
# then cached once, by the file system measured, as on a disk of its own; otherwise the image
# file's own page cache and read-ahead sit beneath it too.
bench_mount_fresh() {
    local image=$1 mnt=$2 size=$3 inodes=${4:-} device
    truncate -s "${size}G" "$image"
    mkfs.ext4 -q -F ${inodes:+-N "$inodes"} "$image"
    mkdir -p "$mnt"
    mount -o loop "$image" "$mnt"
    if [ "${BENCH_LOOP_IO:-buffered}" = direct ]; then
        device=$(findmnt -n -o SOURCE --target "$mnt")
        losetup --direct-io=on "$device" || { echo "no direct I/O for $device" >&2; return 2; }
    fi
}

# bench_drop_caches: writes everything out, then empties the page, dentry and inode caches. A
# loop-mounted file system's sync only moves its blocks into the image file's own cache, which
# another sync then writes: synced until little is dirty (at most 10 rounds), so that no
# write-back of an earlier step runs during the next timed one.
bench_drop_caches() {
    local i dirty
    for i in 1 2 3 4 5 6 7 8 9 10; do
        sync
        dirty=$(awk '/^(Dirty|Writeback):/ { n += $2 } END { print n + 0 }' /proc/meminfo)
        [ "$dirty" -lt 20000 ] && break
        sleep 0.5
    done
    echo 3 >/proc/sys/vm/drop_caches
}

# bench_timed <output file> <command...>: runs the command once under /usr/bin/time and prints
# "wall_s cpu_s peak_kib" (cpu = user + system). The command's output goes to the output file;
# a failed command fails the call with that output on standard error.
bench_timed() {
    local out=$1 t0 t1 user sys peak
    shift
    t0=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$out.time" "$@" >"$out" 2>&1 ||
        { echo "run failed: $*" >&2; tail -20 "$out" >&2; return 1; }
    t1=$(date +%s.%N)
    read -r user sys peak <"$out.time"
    awk -v a="$t0" -v b="$t1" -v u="$user" -v s="$sys" -v m="$peak" 'BEGIN { printf "%.2f %.2f %d\n", b - a, u + s, m }'
}

# bench_median: the median of the numbers on standard input (any white space between them),
# unformatted.
bench_median() {
    tr -s ' \t' '\n\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# bench_write_job <jobs folder> <name> <target> <source entry> [extra lines...]: a job file with
# no retention, subfolders on, no verify, and the given lines (style, compression).
bench_write_job() {
    local jobs=$1 name=$2 target=$3 source=$4
    shift 4
    printf '%s\r\n' "[Config]" "JobName=$name" "KeepCount=0" "KeepPeriod=Copies" "ParseSubDir=-1" "Verify=0" \
        "TargetDir=$target/" "$@" "[Source]" "File_0=$source" "[Exclude]" "[OneShot]" >"$jobs/$name.slj"
}
