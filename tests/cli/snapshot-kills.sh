# shellcheck shell=bash
# Sourced by snapshot-tests.sh (WORK, S, SHIM, check, run, write_job, dated are its own): snapshot
# runs killed at many points of a tree of a few thousand files, by the fault-injection library
# (a SIGKILL just before the n-th name change in the target). After every kill, each dated
# folder holds exactly one whole state the source had, and "latest" names one of them; the
# next run succeeds and reclaims what the killed one left.

# One line per dated snapshot: its name and a digest of the whole tree (names, kinds, bytes,
# link texts) below it.
tree_digests() { # snapshot folder
    python3 - "$1" <<'PY'
import hashlib, os, re, sys
root = sys.argv[1]
for name in sorted(os.listdir(root)):
    top = os.path.join(root, name)
    if not re.fullmatch(r"\d{4}-\d\d-\d\d_\d{6}", name) or os.path.islink(top) or not os.path.isdir(top):
        continue
    h = hashlib.sha256()
    for folder, dirs, files in os.walk(top):
        dirs.sort()
        for f in sorted(files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]):
            p = os.path.join(folder, f)
            h.update(os.path.relpath(p, top).encode("utf-8", "surrogateescape") + b"\0")
            if os.path.islink(p):
                h.update(b"L" + os.readlink(p).encode("utf-8", "surrogateescape"))
            else:
                with open(p, "rb") as fh:
                    h.update(b"F" + hashlib.sha256(fh.read()).digest())
    print(name, h.hexdigest())
PY
}

# Runs the job once under the library with the given settings; the kill, if any, ends it.
killed_run() { # job, then KILLSHIM_* settings
    local job=$1
    shift
    { env LD_PRELOAD="$SHIM" KILLSHIM_MATCH="$KT" "$@" timeout 60 "$S" /RUN "$job" /EXIT >/dev/null 2>&1; } 2>/dev/null
}

# Every dated folder holds state A or state B whole; latest names a dated folder.
states_whole() { # snapshot folder
    local line bad=0
    tree_digests "$1" >"$WORK/digests"
    while read -r _ digest; do
        [ "$digest" = "$DIGEST_A" ] || [ "$digest" = "$DIGEST_B" ] || bad=1
    done <"$WORK/digests"
    if [ -L "$1/latest" ]; then
        line=$(readlink "$1/latest")
        grep -q "^$line " "$WORK/digests" || bad=1
    fi
    [ "$bad" -eq 0 ]
}

# The source in state A, or B: some files changed, some new, some gone.
make_state() { # folder, A or B
    python3 - "$1" "$2" <<'PY'
import os, sys
root, state = sys.argv[1], sys.argv[2]
for d in range(40):
    os.makedirs(os.path.join(root, "d%02d" % d, "sub"), exist_ok=True)
    for f in range(50):
        p = os.path.join(root, "d%02d" % d, ("sub/" if f % 3 == 0 else "") + "f%02d.txt" % f)
        if state == "B" and f % 17 == 0:
            os.unlink(p)
        elif state == "A" or f % 7 == 0:
            with open(p, "w") as fh:
                fh.write("%s %s %d\n" % (p, state, f) * (1 + f))
    if state == "B":
        with open(os.path.join(root, "d%02d" % d, "new.txt"), "w") as fh:
            fh.write("new\n")
PY
}

kill_trials() { # copy style, job name
    local style=$1 job=$2 calls k i bad=0 missed=0
    KT="$WORK/k-$job"
    local KS="$KT/$job.snapshots"
    write_job -m "$job" "$KT/" "$KSRC/" "${SNAPSHOT_JOB[@]}" "CopyStyle=$style" "KeepLast=2" "KeepDaily=1" \
        "KeepWeekly=0" "KeepMonthly=0" "KeepYearly=0"
    make_state "$KSRC" A
    run /RUN "$job" /EXIT
    DIGEST_A=$(tree_digests "$KS" | awk '{print $2}')
    sleep 1.1 # state B's changed files get other times than A's
    make_state "$KSRC" B
    # A run of state B, counting the name changes a whole run makes in the target.
    killed_run "$job" KILLSHIM_COUNT="$WORK/count"
    calls=$(cat "$WORK/count")
    DIGEST_B=$(tree_digests "$KS" | sort | tail -1 | awk '{print $2}')
    check "$job: states A and B differ, both snapshotted whole" \
        sh -c "[ '$DIGEST_A' != '$DIGEST_B' ] && [ $(dated "$KS" | wc -l) -eq 2 ]"
    # Kills spread over the run, and at each kind of final step.
    for i in $(seq 1 16); do
        k=$((1 + (calls - 1) * i / 16 - (i % 3)))
        [ "$k" -lt 1 ] && k=1
        killed_run "$job" KILLSHIM_CALL="$k" || missed=$((missed + ($? != 137)))
        states_whole "$KS" || { bad=1; echo "       after a kill at call $k of $calls"; }
    done
    for at in 'rename.* -> .*snapshots/[0-9_-]+$' 'rename.*latest$' 'rename.*snapshots/[0-9_-]+ -> .*expired' \
        'unlinkat.*expired'; do
        killed_run "$job" KILLSHIM_KILL_AT="$at" || missed=$((missed + ($? != 137)))
        states_whole "$KS" || { bad=1; echo "       after a kill at '$at'"; }
    done
    check "$job: every kill landed (20 killed runs)" [ "$missed" -eq 0 ]
    check "$job: after every kill each dated folder is a whole state and latest names one" [ "$bad" -eq 0 ]
    run /RUN "$job" /EXIT
    check "$job: the next run succeeds" [ "$RC" -eq 0 ]
    check "$job: it leaves no temporary folder" [ -z "$(find "$KT" -maxdepth 1 -name '.stowline-tmp-*')" ]
    check "$job: latest names the newest snapshot" [ "$(readlink "$KS/latest")" = "$(dated "$KS" | tail -1)" ]
    check "$job: it is state B" [ "$(tree_digests "$KS" | tail -1 | awk '{print $2}')" = "$DIGEST_B" ]
}

KSRC="$WORK/ksrc"
mkdir -p "$KSRC"
kill_trials 0 killrb
check "a leftover of a killed run was reclaimed" grep -q "Reclaimed .* left by an interrupted run" "$LOG"
rm -rf "$KSRC"
mkdir -p "$KSRC"
kill_trials 1 killup
