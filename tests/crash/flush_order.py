#!/usr/bin/env python3
"""Flush order: runs the real program under the fault shim's order trace and checks that what a
run puts on disk is flushed before anything depends on it.

For Update, Freshen, incremental, Rebuild and zip runs that replace earlier copies:
  - every rename that replaces a name in the target, and a Rebuild's exchange, comes after a flush
    that covers its data: a syncfs of the target, or an fsync/fdatasync of the file itself, that
    began after the last write to what is renamed and ended before the rename;
  - a zip run's archive gets its final name only after such a flush too;
  - the job file's record of the run is renamed into place only after a syncfs of the target that
    began after the run's last write or rename in the target;
  - the archive-flag store's last write (its commit) comes after such a syncfs too;
  - no syncfs of the target but the run's first covers nothing new: each later one follows a write
    or rename in the target made after the one before it began.
And a no-change Update flushes no file of the target one by one, and writes nothing there.

Usage: flush_order.py --stowline BIN --shim LIB [--keep]
Exit status 0 when every check holds.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crash_trials  # noqa: E402  (the same installation and tree as the crash trials)

crash_trials.STYLES["freshen"] = dict(compress=False, keep="Copies", copies=3, copy_style=2, incremental=False)
STYLES = ["update", "freshen", "incremental", "rebuild", "zip-count"]


class Trace:
    """The events of one run, as the shim's KILLSHIM_ORDER lines give them."""

    def __init__(self, path, target):
        self.target = target
        self.events = []
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            for line in f:
                self.events.append(tuple(line.rstrip("\n").split("\t")))

    def under(self, path, root=None):
        root = root or self.target
        return path == root or path.startswith(root.rstrip("/") + "/")

    def syncfs_of_target(self, i):
        op, kind, path = self.events[i][:3]
        return kind == "syncfs" and self.under(path)

    def flushed_between(self, after, before, covers):
        """True when a flush that covers (covers(kind, path)) began after index `after` and ended
        before index `before`."""
        begun = set()
        for i in range(after + 1, before):
            op, kind, path = self.events[i][:3]
            if op == "flush-begin" and covers(kind, path):
                begun.add((kind, path))
            elif op == "flush-end" and (kind, path) in begun:
                return True
        return False

    def last_write(self, before, match):
        for i in range(before - 1, -1, -1):
            if self.events[i][0] == "write" and match(self.events[i][1]):
                return i
        return -1

    def renames(self):
        return [(i, e[1], e[2], e[3]) for i, e in enumerate(self.events) if e[0] == "rename"]


class Checks:
    def __init__(self):
        self.faults = []
        self.passed = 0

    def expect(self, ok, text):
        if ok:
            self.passed += 1
        else:
            self.faults.append(text)
        return ok


def data_flushed(trace, i, source):
    """The rename at index i of `source` (a file, or a folder and everything in it) comes after a
    flush covering the last write to it. True when nothing of it was written in the run."""
    w = trace.last_write(i, lambda p: trace.under(p, source))
    if w < 0:
        return True
    return trace.flushed_between(
        w, i, lambda kind, path: (kind == "syncfs" and trace.under(path)) or
        (kind in ("fsync", "fdatasync") and path == source))


def target_flushed_before(trace, i):
    """Everything the run wrote or renamed in the target before index i was flushed by a syncfs of
    the target before i."""
    last = -1
    for j in range(i):
        e = trace.events[j]
        if (e[0] == "write" and trace.under(e[1])) or (e[0] == "rename" and (trace.under(e[1]) or trace.under(e[2]))):
            last = j
    return last < 0 or trace.flushed_between(last, i, lambda kind, path: kind == "syncfs" and trace.under(path))


def redundant_flushes(trace):
    """The syncfs calls of the target, after the first, that began with nothing written or renamed
    in the target since the previous one began."""
    found = []
    seen_one = False
    news = False
    for e in trace.events:
        if e[0] == "write" and trace.under(e[1]):
            news = True
        elif e[0] == "rename" and (trace.under(e[1]) or trace.under(e[2])):
            news = True
        elif e[0] == "flush-begin" and e[1] == "syncfs" and trace.under(e[2]):
            if seen_one and not news:
                found.append(e[2])
            seen_one = True
            news = False
    return found


def traced_run(bench, where, trace_file):
    if os.path.exists(trace_file):
        os.unlink(trace_file)
    bench.write_job()
    p = subprocess.run([os.path.join(bench.app, "stowline"), "/RUN", crash_trials.JOB, "/EXIT"],
                       env=bench.env(KILLSHIM_ORDER=trace_file), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
    if p.returncode != 0:
        raise SystemExit(f"{where}: the run exited {p.returncode}:\n{bench.log_since(0)[-2000:]}")
    return Trace(trace_file, bench.target)


def change_tree(bench):
    """Rewrites some files (a newer time than their copies), adds one and retargets a link."""
    time.sleep(0.05)
    bench.mutate()
    link = os.path.join(bench.src, "link")
    os.unlink(link)
    os.symlink(f"d1/elsewhere-{bench.serial}", link)


def check_style(args, style, root, checks):
    bench = crash_trials.Bench(args, style, os.path.join(root, style))
    os.symlink("d0", os.path.join(bench.src, "link"))
    # Freshen copies only what the target holds already: an Update makes the first copy.
    opts = bench.opts
    bench.opts = dict(opts, copy_style=1) if style == "freshen" else opts
    if bench.run() != 0:
        raise SystemExit(f"{style}: the first run failed:\n{bench.log_since(0)[-2000:]}")
    bench.opts = opts
    change_tree(bench)
    trace = traced_run(bench, style, os.path.join(root, f"{style}.order"))
    job_file = os.path.join(bench.app, "BackupJobs", crash_trials.JOB + ".slj")

    replacing = 0
    placed_archive = False
    for i, src, dst, how in trace.renames():
        if not trace.under(dst):
            continue
        if how in ("replaces", "exchange"):
            replacing += 1
            checks.expect(data_flushed(trace, i, src),
                          f"{style}: '{dst}' {how} by '{src}' before a flush covering its data")
        if bench.opts["compress"] and os.path.basename(src).endswith(".zip") and trace.under(src, bench.target):
            placed_archive = placed_archive or crash_trials.TMP_PREFIX in src
            checks.expect(data_flushed(trace, i, src), f"{style}: the archive '{dst}' named before it was flushed")
    if bench.opts["compress"]:
        checks.expect(placed_archive, f"{style}: the traced run put no new archive in place")
    else:
        # The run must really have replaced earlier copies, or the checks above saw nothing.
        checks.expect(replacing >= (1 if style == "rebuild" else 3),
                      f"{style}: only {replacing} replacing renames traced")
    if style == "rebuild":
        # The new tree takes its place by an exchange, or by a rename once the previous one is
        # moved aside: either way after a flush of all of it.
        swaps = [(i, src) for i, src, dst, _ in trace.renames()
                 if "/rebuild/" in src and os.path.dirname(dst.rstrip("/")) == bench.target.rstrip("/")]
        if checks.expect(swaps, f"{style}: no exchange of the new tree traced"):
            checks.expect(all(data_flushed(trace, i, src) for i, src in swaps),
                          f"{style}: the new tree took its place before it was flushed")

    saves = [i for i, src, dst, _ in trace.renames() if dst == job_file]
    if checks.expect(saves, f"{style}: the job file was not saved"):
        checks.expect(target_flushed_before(trace, saves[-1]),
                      f"{style}: the job file was saved before the target was flushed")
    redundant = redundant_flushes(trace)
    checks.expect(not redundant, f"{style}: {len(redundant)} flushes of the target covered nothing new")
    flag_writes = [i for i, e in enumerate(trace.events) if e[0] == "write" and "ArchiveFlags.db" in e[1]]
    if flag_writes and not bench.opts["compress"]:
        checks.expect(target_flushed_before(trace, flag_writes[-1]),
                      f"{style}: the archive flags were committed before the target was flushed")
    return bench


def check_no_change(bench, root, checks):
    """A second Update with nothing changed: no write and no per-file flush in the target."""
    bench.run()  # settles the times the traced run's copies took
    trace = traced_run(bench, "no-change update", os.path.join(root, "nochange.order"))
    writes = [e[1] for e in trace.events if e[0] == "write" and trace.under(e[1])]
    checks.expect(not writes, f"no-change update: wrote {len(writes)} times in the target (e.g. {writes[:1]})")
    per_file = [e for e in trace.events if e[0] == "flush-begin" and e[1] in ("fsync", "fdatasync", "sync_file_range")
                and trace.under(e[2])]
    checks.expect(not per_file, f"no-change update: {len(per_file)} per-file flushes in the target")
    syncs = [e for e in trace.events if e[0] == "flush-begin" and e[1] in ("syncfs", "sync")]
    checks.expect(len(syncs) <= 1, f"no-change update: {len(syncs)} file-system flushes (one at most)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--stowline", required=True)
    ap.add_argument("--shim", required=True)
    ap.add_argument("--files", type=int, default=60)
    ap.add_argument("--big-files", type=int, default=1)
    ap.add_argument("--big-mb", type=int, default=1)
    ap.add_argument("--seed", default="7")
    ap.add_argument("--keep", action="store_true", help="keep the trial folders")
    args = ap.parse_args()
    args.stowline = os.path.abspath(args.stowline)
    args.shim = os.path.abspath(args.shim)
    root = tempfile.mkdtemp(prefix="stowline-flush-")
    checks = Checks()
    try:
        benches = {style: check_style(args, style, root, checks) for style in STYLES}
        check_no_change(benches["update"], root, checks)
    finally:
        if args.keep:
            print(f"trial folders kept in {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    for text in checks.faults:
        print("FAULT:", text)
    print(f"{checks.passed} checks held, {len(checks.faults)} faults")
    return 1 if checks.faults else 0


if __name__ == "__main__":
    sys.exit(main())
