#!/usr/bin/env bash
# /RETENTION checked from outside: hand-built snapshot folders (with a "latest" link, a stray
# folder, a file and a link under dated names, a date and a time that do not exist) and a job keeping
# some of them by the calendar. The printed verdicts are compared with a hand-made expectation,
# and the tree is the same before and after. Jobs without snapshots and missing jobs are refused
# with their exit statuses, and the command answers beside a running agent.
# Usage: retention-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin retention "$@"
AGENT_PID=""
cleanup() {
    if [ -n "$AGENT_PID" ] && kill -0 "$AGENT_PID" 2>/dev/null; then kill -KILL "$AGENT_PID" 2>/dev/null; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

same() { cmp -s "$1" "$2" || diff "$1" "$2" | head -20; cmp -s "$1" "$2"; }
# Every entry under a folder with its type, size, time, mode and link text.
listing() { (cd "$1" && find . -printf '%p %y %s %T@ %m %l\n' | LC_ALL=C sort); }

# ---- the calendar's verdicts for hand-built snapshots ----
# 2026-03-01 is a Sunday: ISO week 9 ends there, week 10 runs 03-02..03-08, week 11 from 03-09.
SNAPS="$WORK/target/photos.snapshots"
mkdir -p "$SNAPS" "$WORK/source"
for name in 2026-03-10_210000 2026-03-10_080000 2026-03-09_080000 2026-03-07_080000 2026-03-01_080000 \
    2026-02-28_080000 2026-02-14_080000 2026-01-31_080000 2025-12-31_080000 2025-06-30_080000; do
    mkdir -p "$SNAPS/$name/source"
    echo "$name" >"$SNAPS/$name/source/file.txt"
done
ln -s 2026-03-10_210000 "$SNAPS/latest"
mkdir "$SNAPS/notes" "$SNAPS/2026-02-30_080000" "$SNAPS/2026-03-10_256000" "$SNAPS/2026-03-11_08000"
echo "not a snapshot" >"$SNAPS/2026-03-11_080000"
ln -s 2026-03-09_080000 "$SNAPS/2026-03-12_080000"
write_job photos "$WORK/target/" "$WORK/source" Compress=0 "Snapshots=-1" "KeepLast=1" "KeepDaily=3" "KeepWeekly=3" \
    "KeepMonthly=2" "KeepYearly=2"
cat >"$WORK/expected" <<'END'
2026-03-10_210000  keep (last)
2026-03-10_080000  remove
2026-03-09_080000  keep (daily)
2026-03-07_080000  keep (daily)
2026-03-01_080000  keep (weekly)
2026-02-28_080000  keep (monthly)
2026-02-14_080000  remove
2026-01-31_080000  remove
2025-12-31_080000  keep (yearly)
2025-06-30_080000  remove
END
listing "$WORK/target" >"$WORK/before"
listing "$SNAPS" >"$WORK/snaps-before"
cp "$JOBS/photos.slj" "$WORK/job-before"
run /RETENTION photos
check "/RETENTION exits 0" [ "$RC" -eq 0 ]
check "/RETENTION prints every snapshot with its verdict, newest first" same "$WORK/out" "$WORK/expected"
check "/RETENTION writes nothing on stderr" [ ! -s "$WORK/err" ]
listing "$WORK/target" >"$WORK/after"
check "/RETENTION changes nothing in the target" same "$WORK/before" "$WORK/after"
check "/RETENTION leaves the job file as it was" cmp -s "$JOBS/photos.slj" "$WORK/job-before"
run /RETENTION photos.slj
check "the job may be named with its .slj" same "$WORK/out" "$WORK/expected"

# Without Keep keys the defaults hold (3 last, 7 days, 4 weeks, 12 months, no years).
write_job photos "$WORK/target/" "$WORK/source" Compress=0 "Snapshots=-1"
cat >"$WORK/expected" <<'END'
2026-03-10_210000  keep (last)
2026-03-10_080000  keep (last)
2026-03-09_080000  keep (last)
2026-03-07_080000  keep (daily)
2026-03-01_080000  keep (daily)
2026-02-28_080000  keep (daily)
2026-02-14_080000  keep (daily)
2026-01-31_080000  keep (daily)
2025-12-31_080000  keep (monthly)
2025-06-30_080000  keep (monthly)
END
run /RETENTION photos
check "the default rules: the last three, seven days, then months" same "$WORK/out" "$WORK/expected"

# ---- beside a running agent: answered, not refused ----
start_agent
run /RETENTION photos /EXIT
check "/RETENTION answers beside a running agent" [ "$RC" -eq 0 ]
check "/RETENTION beside the agent prints the plan" same "$WORK/out" "$WORK/expected"
stop_agent
listing "$WORK/target" >"$WORK/after"
check "the target is still unchanged" same "$WORK/before" "$WORK/after"

# ---- no snapshots yet ----
write_job fresh "$WORK/fresh/" "$WORK/source" Compress=0 "Snapshots=-1"
run /RETENTION fresh
check "no snapshots: exit 0" [ "$RC" -eq 0 ]
check "no snapshots: said on stdout" grep -qx "No snapshots in '$WORK/fresh/fresh.snapshots' yet." "$WORK/out"
check "no snapshots: the target is not made" [ ! -e "$WORK/fresh" ]

# ---- a snapshot folder that cannot be read is no "none" ----
write_job blocked "$WORK/target/" "$WORK/source" Compress=0 "Snapshots=-1"
echo "a file where the snapshots belong" >"$WORK/target/blocked.snapshots"
run /RETENTION blocked
check "an unreadable snapshot folder exits 1" [ "$RC" -eq 1 ]
check "an unreadable snapshot folder: the reason on stderr" \
    grep -q "the snapshot folder '$WORK/target/blocked.snapshots' cannot be read: it is not a folder" "$WORK/err"
check "an unreadable snapshot folder: no claim on stdout" [ ! -s "$WORK/out" ]
write_job looped "$WORK/target/" "$WORK/source" Compress=0 "Snapshots=-1"
ln -s looped.snapshots "$WORK/target/looped.snapshots"
run /RETENTION looped
check "a link loop in the snapshot folder's place exits 1" [ "$RC" -eq 1 ]
check "a link loop: the reason on stderr" grep -q "looped.snapshots' cannot be read: Too many levels" "$WORK/err"

# ---- refusals ----
run /RETENTION nosuchjob
check "a missing job exits 1" [ "$RC" -eq 1 ]
check "a missing job is named on stderr" grep -q "no job file '$JOBS/nosuchjob.slj'" "$WORK/err"
check "a missing job prints nothing on stdout" [ ! -s "$WORK/out" ]
run /RETENTION ../target/photos
check "a name with a folder part is no job" [ "$RC" -eq 1 ]
write_job zipped "$WORK/target/" "$WORK/source" Compress=-1 "Snapshots=-1"
mkdir -p "$WORK/target/zipped.snapshots/2026-03-10_210000"
run /RETENTION zipped
check "a zip-style job exits 2" [ "$RC" -eq 2 ]
check "a zip-style job: the reason on stderr" grep -q "job zipped keeps no dated snapshots" "$WORK/err"
check "a zip-style job prints nothing on stdout" [ ! -s "$WORK/out" ]
write_job plain "$WORK/target/" "$WORK/source" Compress=0
run /RETENTION plain
check "a copy-style job without snapshots exits 2" [ "$RC" -eq 2 ]
check "a copy-style job without snapshots: the reason on stderr" grep -q "job plain keeps no dated snapshots" \
    "$WORK/err"
run /RETENTION
check "no job named: exit 2" [ "$RC" -eq 2 ]
check "no job named: the help" grep -q "^/RETENTION <job>" "$WORK/out"
run /RETENTION photos other
check "two jobs named: exit 2" [ "$RC" -eq 2 ]
run /RETENTION photos /bogus
check "an unknown switch: exit 2" [ "$RC" -eq 2 ]
listing "$SNAPS" >"$WORK/after-all"
check "nothing of the snapshots was touched by any of it" same "$WORK/snaps-before" "$WORK/after-all"

cli_end
