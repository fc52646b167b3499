#!/usr/bin/env bash
# Runs every benchmark of the program against the reference tools, in the same run and on the
# same corpus, and prints the ratios. See bench/README.md.
#
#   bench/run-bench.sh <stowline-binary>              the 5,000-file corpus
#   bench/run-bench.sh <stowline-binary> home [N]     a home-folder-like tree of N files
#                                                     (default 200,000): zip section only
#
# Environment:
#   BENCH_DIR     work folder (default: a new temporary folder, removed at the end unless
#                 BENCH_KEEP=1)
#   BENCH_CORPUS  an existing corpus folder to use instead of making one
#   CORPUS_ARGS   arguments for make-corpus (default: none, i.e. 5,000 files, 315 MB)
#   BENCH_REPEAT  runs of each timed command; the fastest counts (default 1)
#   BENCH_BIG=1   also zip a 2 GiB file and report the peak memory of that run
#   BENCH_ZIP     the bench_zip driver (default: bench/bench_zip beside the binary's build)
#   BENCH_COPY=1  with "home": run the copy benchmarks on it too
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 <stowline-binary> [home [file-count]]" >&2
    exit 2
fi
kind=${2:-default}
home_files=${3:-200000}
if [ "$kind" != default ] && [ "$kind" != home ]; then
    echo "unknown corpus '$kind' (default or home)" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
stowline=$(readlink -f "$1")
repeat=${BENCH_REPEAT:-1}

for tool in zip unzip /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

if [ -n "${BENCH_DIR:-}" ]; then
    work=$BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d /tmp/stowline-bench-XXXXXX)
    if [ "${BENCH_KEEP:-0}" != 1 ]; then trap 'rm -rf "$work"' EXIT; fi
fi
work=$(readlink -f "$work")

if [ "$kind" = home ]; then
    corpus=${BENCH_CORPUS:-$work/home-$home_files}
    if [ ! -d "$corpus" ]; then
        echo "making a home-folder corpus of $home_files files in $corpus ..."
        python3 "$root/../shared/bench/make-home-corpus" "$corpus" --files "$home_files" >/dev/null
    fi
    wall_goal=0.5
else
    corpus=${BENCH_CORPUS:-$work/corpus}
    if [ ! -d "$corpus" ]; then
        echo "making corpus in $corpus ..."
        # shellcheck disable=SC2086
        python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:-} "$corpus" >/dev/null
    fi
    wall_goal=0.4
fi
corpus=$(readlink -f "$corpus")
files=$(find "$corpus" -type f | wc -l)
echo "corpus: $corpus ($files files, $(du -sm "$corpus" | cut -f1) MB), load $(cut -d' ' -f1-3 /proc/loadavg)"
# Peak memory goal: 64 MiB plus 0.35 KiB per file.
mem_goal=$(awk -v n="$files" 'BEGIN { printf "%.1f", 64 + 0.35 * n / 1024 }')

# measure <label> <command...>: runs the command BENCH_REPEAT times under /usr/bin/time and
# leaves the best wall time, the CPU time (user + system) of that run and the largest peak
# resident size in the variables <label>_wall, <label>_cpu, <label>_mem (KiB), <label>_rc.
measure() {
    local label=$1
    shift
    local best_wall="" best_cpu="" max_mem=0 rc=0 i
    for ((i = 0; i < repeat; i++)); do
        [ -n "${BEFORE_EACH:-}" ] && eval "$BEFORE_EACH"
        rc=0
        /usr/bin/time -f "%e %U %S %M" -o "$work/time.$label" "$@" >"$work/out.$label" 2>&1 || rc=$?
        local wall user sys mem
        read -r wall user sys mem < <(tail -n 1 "$work/time.$label")
        local cpu
        cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
        if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
            best_wall=$wall
            best_cpu=$cpu
        fi
        [ "$mem" -gt "$max_mem" ] && max_mem=$mem
    done
    printf -v "${label}_wall" '%s' "$best_wall"
    printf -v "${label}_cpu" '%s' "$best_cpu"
    printf -v "${label}_mem" '%s' "$max_mem"
    printf -v "${label}_rc" '%s' "$rc"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r != "n/a" && r <= g) ? "met" : "NOT met" }'; }

# ---- A temporary installation for "/RUN": the copied binary's folder is its application
# folder, so its jobs, log and preferences stay there.
install=$work/install
target=$work/target
mkdir -p "$install/BackupJobs" "$target"
cp "$stowline" "$install/stowline"

write_zip_job() { # <job name> <source entry>
    local name=$1 source=$2
    printf '%s\r\n' "[Config]" "JobName=$name" "DateLastRun=Jan-01-1900 00:00" "SizeLastRun=-1" "RunCount=0" \
        "StartTime=00:00" "Frequency=1" "DayOfWeek=254" "DayOfMonth=1" "Compress=-1" "CopyStyle=0" "KeepCount=0" \
        "KeepPeriod=Copies" "Password=" "ParseSubDir=-1" "Incremental=0" "Suspended=0" "PreBackupCommand=" \
        "PostBackupCommand=" "TargetDir=$target/" "[Source]" "File_0=$source" "[Exclude]" "[OneShot]" \
        >"$install/BackupJobs/$name.slj"
}

run_job() { # <job name>: the real command line, without a display
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$install/stowline" /RUN "$1" /EXIT
}

bench_zip=${BENCH_ZIP:-}
if [ -z "$bench_zip" ]; then
    for candidate in "$(dirname "$stowline")/bench/bench_zip" "$(dirname "$stowline")/../bench/bench_zip"; do
        [ -x "$candidate" ] && bench_zip=$(readlink -f "$candidate") && break
    done
fi

# Zips <source> into <archive> through the real "/RUN" path when it works, else through the
# bench_zip driver of the engine. Sets zip_path to the path used.
zip_path=""
choose_zip_path() { # <job name>
    # Probed on a one-file folder: on a million-file tree a probe of the corpus itself would
    # cost as much as the run measured.
    mkdir -p "$work/probe-source"
    echo probe >"$work/probe-source/probe.txt"
    write_zip_job "$1" "$work/probe-source"
    rm -f "$target/$1.zip"
    if run_job "$1" >"$work/probe.out" 2>&1 && [ -f "$target/$1.zip" ]; then
        zip_path=run
    elif [ -n "$bench_zip" ]; then
        zip_path=driver
        echo "note: '/RUN' did not produce an archive (see $work/probe.out); using $bench_zip"
    else
        echo "neither '/RUN' nor the bench_zip driver can zip; build the bench_zip target" >&2
        exit 1
    fi
    rm -f "$target/$1.zip"
}

# The command of a Stowline zip run, in the array stow_cmd.
stow_command() { # <job name> <source>
    if [ "$zip_path" = run ]; then
        stow_cmd=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$install/stowline" /RUN "$1" /EXIT)
    else
        stow_cmd=("$bench_zip" "$target/$1.zip" "$2")
    fi
}

echo
echo "== zip: Stowline zip run vs Info-ZIP 'zip -r -9' =="
choose_zip_path benchzip
write_zip_job benchzip "$corpus"
echo "Stowline path: $([ "$zip_path" = run ] && echo "stowline /RUN benchzip /EXIT" || echo "bench_zip driver")"

BEFORE_EACH='rm -f "$work/ref.zip"' measure ref zip -q -r -9 "$work/ref.zip" "$corpus"
stow_command benchzip "$corpus"
BEFORE_EACH='rm -f "$target/benchzip.zip"' measure stow "${stow_cmd[@]}"

if [ "$stow_rc" != 0 ] || [ ! -f "$target/benchzip.zip" ]; then
    echo "Stowline zip run failed (status $stow_rc):" >&2
    cat "$work/out.stow" >&2
    exit 1
fi
unzip -tq "$target/benchzip.zip" >/dev/null || { echo "unzip -t failed on the Stowline archive" >&2; exit 1; }
if command -v 7zz >/dev/null; then
    7zz t "$target/benchzip.zip" >/dev/null || { echo "7zz t failed on the Stowline archive" >&2; exit 1; }
fi

ref_size=$(stat -c %s "$work/ref.zip")
stow_size=$(stat -c %s "$target/benchzip.zip")
wall_ratio=$(ratio "$stow_wall" "$ref_wall")
cpu_ratio=$(ratio "$stow_cpu" "$ref_cpu")
size_ratio=$(ratio "$stow_size" "$ref_size")
printf '%-26s %9s %9s %10s %14s\n' "" "wall s" "cpu s" "peak MiB" "archive bytes"
printf '%-26s %9s %9s %10s %14s\n' "zip -r -9" "$ref_wall" "$ref_cpu" "$(mib "$ref_mem")" "$ref_size"
printf '%-26s %9s %9s %10s %14s\n' "Stowline" "$stow_wall" "$stow_cpu" "$(mib "$stow_mem")" "$stow_size"
echo "time ratio (wall) Stowline / zip: $wall_ratio   goal <= $wall_goal: $(verdict "$wall_ratio" "$wall_goal")"
echo "time ratio (cpu)  Stowline / zip: $cpu_ratio"
echo "archive size ratio:               $size_ratio   goal <= 1.0: $(verdict "$size_ratio" 1.0)"
echo "peak memory:                      $(mib "$stow_mem") MiB   goal <= $mem_goal: $(verdict "$(mib "$stow_mem")" "$mem_goal")"
echo "memory per file:                  $(awk -v k="$stow_mem" -v n="$files" 'BEGIN { printf "%.3f", k / n }') KiB (Info-ZIP: $(awk -v k="$ref_mem" -v n="$files" 'BEGIN { printf "%.3f", k / n }') KiB)"
echo "load after the runs:              $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$work/ref.zip" "$target/benchzip.zip"

if [ "${BENCH_BIG:-0}" = 1 ]; then
    echo
    echo "== zip: peak memory with a 2 GiB file =="
    mkdir -p "$work/big"
    head -c 64M /dev/urandom >"$work/big/random.bin"
    truncate -s 2G "$work/big/random.bin" # the rest is a sparse run of zeros
    choose_zip_path benchbig
    write_zip_job benchbig "$work/big"
    stow_command benchbig "$work/big"
    BEFORE_EACH='rm -f "$target/benchbig.zip"' measure big "${stow_cmd[@]}"
    [ "$big_rc" = 0 ] || { echo "Stowline zip run of the 2 GiB file failed" >&2; exit 1; }
    echo "2 GiB file: ${big_wall} s, peak memory $(mib "$big_mem") MiB   goal < 64: $(verdict "$(mib "$big_mem")" 63.999)"
    rm -rf "$work/big" "$target/benchbig.zip"
fi

# ---- AES-256 against the same run unencrypted, on the same corpus.
if [ -f "$here/bench_aes.sh" ] && [ "$kind" = default ]; then
    echo
    BENCH_CORPUS="$corpus" BENCH_DIR="$work" bash "$here/bench_aes.sh" "$stowline"
fi

# ---- Copy-style benchmarks, when present.
if [ -f "$here/bench_copy.sh" ] && { [ "$kind" = default ] || [ "${BENCH_COPY:-0}" = 1 ]; }; then
    echo
    # BENCH_COPY names the driver there.
    env -u BENCH_COPY CORPUS="$corpus" BENCH_WORK="$work" bash "$here/bench_copy.sh" "$stowline" "$corpus"
fi

# ---- The zip style's off-site upload against rclone copyto, when rclone is installed.
if [ -f "$here/bench_offsite.sh" ] && [ "$kind" = default ] && command -v rclone >/dev/null; then
    echo
    BENCH_CORPUS="$corpus" bash "$here/bench_offsite.sh" "$stowline"
fi
