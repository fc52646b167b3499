#!/usr/bin/env bash
# Copy-style benchmarks (not tests): on one corpus, in the same run,
#   1. a Rebuild copy into an empty target against `cp -a`;
#   2. a no-change incremental Update copy, and a no-change Update copy, against a no-op `rsync -a`
#      of the same corpus into the same copy (the Rebuild's), so that both compare the same trees;
# and the peak memory of each Stowline run (/usr/bin/time -v "Maximum resident set size").
#
#   bench/bench_copy.sh [<stowline-binary>] [<corpus>]
#
# The Stowline side runs through the real command line (`stowline /RUN job /EXIT` with a copy job)
# when that completes the copy, and otherwise through the bench_copy driver, which calls the same
# engine code (libCopy::CopyEntry) the run uses.
#
# Environment:
#   CORPUS / 2nd argument  an existing corpus (default: made with ../shared/bench/make-corpus)
#   CORPUS_ARGS            arguments for make-corpus (default: none: 5,000 files, 315 MB)
#   BENCH_WORK             work folder (default: a new temporary folder, removed at the end)
#   BENCH_REPEAT           runs of each timed command, interleaved; the fastest counts (default 3)
#   BENCH_COPY             the bench_copy driver (default: bench/bench_copy of the binary's build,
#                          or of build-copy/ or build/ in the repository)
#   BENCH_BIG=1            also copy a 2 GiB file and report the peak memory of that run
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
stowline=${1:-}
[ -n "$stowline" ] && stowline=$(readlink -f "$stowline")
corpus=${2:-${CORPUS:-}}
repeat=${BENCH_REPEAT:-3}

for tool in cp rsync /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

if [ -n "${BENCH_WORK:-}" ]; then
    work=$BENCH_WORK/copy
    rm -rf "$work"
    mkdir -p "$work"
    trap 'rm -rf "$work"' EXIT
else
    work=$(mktemp -d /tmp/stowline-copybench-XXXXXX)
    trap 'rm -rf "$work"' EXIT
fi
work=$(readlink -f "$work")

if [ -z "$corpus" ]; then
    corpus=$work/corpus
    echo "making corpus in $corpus ..."
    # shellcheck disable=SC2086
    python3 "$root/../shared/bench/make-corpus" ${CORPUS_ARGS:-} "$corpus" >/dev/null
fi
corpus=$(readlink -f "$corpus")
name=$(basename "$corpus")
echo "corpus: $corpus ($(find "$corpus" -type f | wc -l) files, $(find "$corpus" -type d | wc -l) folders," \
    "$(du -sm "$corpus" | cut -f1) MB)"

driver=${BENCH_COPY:-}
if [ -z "$driver" ]; then
    candidates=()
    [ -n "$stowline" ] && candidates+=("$(dirname "$stowline")/bench/bench_copy" "$(dirname "$stowline")/../bench/bench_copy")
    candidates+=("$root/build-copy/bench/bench_copy" "$root/build/bench/bench_copy")
    for c in "${candidates[@]}"; do
        [ -x "$c" ] && driver=$(readlink -f "$c") && break
    done
fi

# measure <label> <command...>: leaves <label>_wall (best), <label>_cpu (user + system of that
# run), <label>_mem (largest peak resident size, KiB) and <label>_rc. One run per call; the
# callers interleave the repeats so that a busy moment of the machine hits both sides alike.
measure() {
    local label=$1
    shift
    local rc=0
    /usr/bin/time -v -o "$work/time.$label" "$@" >"$work/out.$label" 2>&1 || rc=$?
    local wall user sys mem
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.$label")
    user=$(awk -F': ' '/User time/ { print $2 }' "$work/time.$label")
    sys=$(awk -F': ' '/System time/ { print $2 }' "$work/time.$label")
    mem=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.$label")
    local cpu
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    local vw="${label}_wall" vc="${label}_cpu" vm="${label}_mem"
    if [ -z "${!vw:-}" ] || awk -v a="$wall" -v b="${!vw}" 'BEGIN { exit !(a < b) }'; then
        printf -v "$vw" '%s' "$wall"
        printf -v "$vc" '%s' "$cpu"
    fi
    if [ -z "${!vm:-}" ] || [ "$mem" -gt "${!vm}" ]; then printf -v "$vm" '%s' "$mem"; fi
    printf -v "${label}_rc" '%s' "$rc"
    if [ "$rc" != 0 ]; then
        echo "$label failed (status $rc):" >&2
        cat "$work/out.$label" >&2
        exit 1
    fi
}
reset_measures() { for l in "$@"; do unset "${l}_wall" "${l}_cpu" "${l}_mem" "${l}_rc"; done; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r != "n/a" && r <= g) ? "met" : "NOT met" }'; }
row() { printf '%-34s %8s %8s %9s\n' "$@"; }

# ---- The Stowline side: "/RUN" with a copy job in a private installation, or the driver.
install=$work/install
target=$work/target
mkdir -p "$install/BackupJobs" "$target"
[ -n "$stowline" ] && cp "$stowline" "$install/stowline"

write_copy_job() { # <job name> <copy style> <incremental -1|0>
    printf '%s\r\n' "[Config]" "JobName=$1" "DateLastRun=Jan-01-1900 00:00" "SizeLastRun=-1" "RunCount=0" \
        "StartTime=00:00" "Frequency=1" "DayOfWeek=254" "DayOfMonth=1" "Compress=0" "CopyStyle=$2" "KeepCount=0" \
        "KeepPeriod=Copies" "Password=" "ParseSubDir=-1" "Incremental=$3" "Suspended=0" "PreBackupCommand=" \
        "PostBackupCommand=" "TargetDir=$target/" "[Source]" "File_0=$corpus/*.*" "[Exclude]" "[OneShot]" \
        >"$install/BackupJobs/$1.slj"
}
write_copy_job benchrebuild 0 0
write_copy_job benchupdate 1 0
write_copy_job benchincr 1 -1

path=driver
if [ -n "$stowline" ]; then
    rm -rf "${target:?}/$name"
    if env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$install/stowline" /RUN benchrebuild /EXIT \
        >"$work/probe.out" 2>&1 && [ "$(find "$target/$name" -type f 2>/dev/null | wc -l)" = "$(find "$corpus" -type f | wc -l)" ]; then
        path=run
    fi
    rm -rf "${target:?}/$name" "$install/ArchiveFlags.db"
fi
if [ "$path" = driver ] && [ -z "$driver" ]; then
    echo "neither '/RUN' nor the bench_copy driver can copy; build the bench_copy target" >&2
    exit 1
fi
# The command of a Stowline copy run, in the array stow_cmd.
stow_command() { # <rebuild|update|incr>
    if [ "$path" = run ]; then
        stow_cmd=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$install/stowline" /RUN "bench$1" /EXIT)
    else
        case $1 in
        rebuild) stow_cmd=("$driver" "$install" rebuild 0 "$target/" "$corpus/*.*") ;;
        update) stow_cmd=("$driver" "$install" update 0 "$target/" "$corpus/*.*") ;;
        incr) stow_cmd=("$driver" "$install" update 1 "$target/" "$corpus/*.*") ;;
        esac
    fi
}
echo "Stowline path: $([ "$path" = run ] && echo "stowline /RUN <job> /EXIT" || echo "bench_copy driver ($driver)")"
echo "log level: the preferences' default (Detailed: one tree line per copied file and folder)"

echo
echo "== copy: Rebuild copy into an empty target vs 'cp -a' (best of $repeat) =="
reset_measures cpa rebuild
for ((i = 0; i < repeat; i++)); do
    rm -rf "$work/cpref" && mkdir -p "$work/cpref" && sync
    measure cpa cp -a "$corpus" "$work/cpref/"
    rm -rf "${target:?}/$name" "$install/ArchiveFlags.db" && sync
    stow_command rebuild
    measure rebuild "${stow_cmd[@]}"
done
[ "$(find "$target/$name" -type f | wc -l)" = "$(find "$corpus" -type f | wc -l)" ] ||
    { echo "the Rebuild copy is incomplete" >&2; exit 1; }
diff -r "$corpus" "$target/$name" >/dev/null || { echo "the Rebuild copy differs from the corpus" >&2; exit 1; }
row "" "wall s" "cpu s" "peak MiB"
row "cp -a" "$cpa_wall" "$cpa_cpu" "$(mib "$cpa_mem")"
row "Stowline Rebuild" "$rebuild_wall" "$rebuild_cpu" "$(mib "$rebuild_mem")"
r=$(ratio "$rebuild_wall" "$cpa_wall")
echo "time ratio (wall) Stowline / cp -a: $r   goal <= 1.0: $(verdict "$r" 1.0)"
echo "time ratio (cpu)  Stowline / cp -a: $(ratio "$rebuild_cpu" "$cpa_cpu")"
echo "peak memory: $(mib "$rebuild_mem") MiB   goal < 64: $(verdict "$(mib "$rebuild_mem")" 63.999)"
rm -rf "$work/cpref"

echo
echo "== copy: no-change copies vs a no-op 'rsync -a' into the same copy (best of $repeat) =="
# rsync first sets what it keeps beyond the file times (folder times); it copies no file again.
rsync -a "$corpus/" "$target/$name/"
stow_command incr
"${stow_cmd[@]}" >/dev/null 2>&1 # the flags of every file are clear after this
reset_measures rsync incr update engine
for ((i = 0; i < repeat; i++)); do
    measure rsync rsync -a "$corpus/" "$target/$name/"
    stow_command incr
    measure incr "${stow_cmd[@]}"
    stow_command update
    measure update "${stow_cmd[@]}"
    # Through "/RUN" the program's start-up is part of the time; the driver shows the walk alone.
    if [ "$path" = run ] && [ -n "$driver" ]; then
        measure engine "$driver" "$install" update 1 "$target/" "$corpus/*.*"
    fi
done
grep -q "Copied 0 files" "$work/out.incr" 2>/dev/null || [ "$path" = run ] ||
    { echo "the no-change incremental copy copied files:" >&2; cat "$work/out.incr" >&2; exit 1; }
files=$(find "$corpus" | wc -l)
row "" "wall s" "cpu s" "peak MiB"
row "rsync -a (nothing to do)" "$rsync_wall" "$rsync_cpu" "$(mib "$rsync_mem")"
row "Stowline incremental Update" "$incr_wall" "$incr_cpu" "$(mib "$incr_mem")"
row "Stowline Update" "$update_wall" "$update_cpu" "$(mib "$update_mem")"
[ -n "${engine_wall:-}" ] && row "  the same walk without start-up" "$engine_wall" "$engine_cpu" "$(mib "$engine_mem")"
echo "per entry: rsync $(awk -v t="$rsync_wall" -v n="$files" 'BEGIN { printf "%.1f", t * 1e6 / n }') us," \
    "incremental $(awk -v t="$incr_wall" -v n="$files" 'BEGIN { printf "%.1f", t * 1e6 / n }') us," \
    "Update $(awk -v t="$update_wall" -v n="$files" 'BEGIN { printf "%.1f", t * 1e6 / n }') us"
r=$(ratio "$incr_wall" "$rsync_wall")
echo "time ratio (wall) incremental / rsync: $r   goal <= 0.8: $(verdict "$r" 0.8)"
r=$(ratio "$update_wall" "$rsync_wall")
echo "time ratio (wall) Update / rsync:      $r   goal <= 0.8: $(verdict "$r" 0.8)"
if [ -n "${engine_wall:-}" ]; then
    r=$(ratio "$engine_wall" "$rsync_wall")
    echo "time ratio (wall) incremental walk without start-up / rsync: $r   goal <= 0.8: $(verdict "$r" 0.8)"
fi
mem=$incr_mem
[ "$update_mem" -gt "$mem" ] && mem=$update_mem
echo "peak memory: $(mib "$mem") MiB   goal < 64: $(verdict "$(mib "$mem")" 63.999)"

if [ "${BENCH_BIG:-0}" = 1 ]; then
    echo
    echo "== copy: peak memory with a 2 GiB file =="
    big=$work/big
    mkdir -p "$big/data"
    head -c 64M /dev/urandom >"$big/data/random.bin"
    truncate -s 2G "$big/data/random.bin"
    reset_measures bigcopy
    mkdir -p "$big/out"
    if [ -n "$driver" ]; then
        measure bigcopy "$driver" "$big/app" rebuild 0 "$big/out/" "$big/data/*.*"
    else
        echo "the 2 GiB case needs the bench_copy driver" >&2
        exit 1
    fi
    cmp "$big/data/random.bin" "$big/out/data/random.bin" || { echo "the 2 GiB copy differs" >&2; exit 1; }
    echo "2 GiB file: ${bigcopy_wall} s, peak memory $(mib "$bigcopy_mem") MiB   goal < 64: $(verdict "$(mib "$bigcopy_mem")" 63.999)"
    rm -rf "$big"
fi
