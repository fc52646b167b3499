#!/usr/bin/env python3
"""Crash trials: runs the real program on a real tree and throws kills, a full disk and SIGTERM
at its backup runs, then checks what stands under the job's final names.

The kills land on chosen name changes: a traced run tells the kind of each step (the call and
the role of each name: the newest archive, a numbered one, the temporary folder, the copy tree),
and every kind a complete run makes is killed at least once, then calls spread over the run. A
kind that no kill lands on, or a step each style must make and does not, is a fault.

After every interrupted run:
  - every archive under a final name reads back whole (every entry's CRC checked);
  - no earlier generation is missing: each archive recorded after the last completed run is still
    there under some final name, unless the interrupted run got its new archive in place and the
    retention of a completed run would have retired it;
  - every file of a copy target equals some version its source ever had, and no file of the
    previous complete copy is missing;
then the job is run again: it must succeed, leave a complete backup of the current source and
leave no temporary name behind.

Usage: crash_trials.py --stowline BIN --shim LIB [--kill-trials N] [--random-trials N] ...
Exit status 0 when no fault was seen.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from datetime import date, datetime, timedelta

STYLES = {
    "zip-count": dict(compress=True, keep="Copies", copies=3, copy_style=1, incremental=False),
    "zip-age": dict(compress=True, keep="Days", copies=3, copy_style=1, incremental=False),
    # AES-256 archives: read back by 7-Zip with the password (Python's zipfile cannot decrypt them).
    "zip-aes": dict(compress=True, keep="Copies", copies=3, copy_style=1, incremental=False, aes=True),
    "rebuild": dict(compress=False, keep="Copies", copies=3, copy_style=0, incremental=False),
    "update": dict(compress=False, keep="Copies", copies=3, copy_style=1, incremental=False),
    "incremental": dict(compress=False, keep="Copies", copies=3, copy_style=1, incremental=True),
}
JOB = "Job"
TMP_PREFIX = ".stowline-tmp-"
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
AES_PASSWORD = "crash trial pass"
SEVENZ = shutil.which("7zz") or shutil.which("7z") or "7zz"


def ere_literal(text):
    """text matched as it stands, in both Python's and POSIX extended regular expressions."""
    return "".join(f"[{c}]" if c in ".*+?()[{}|$" else ("\\" + c if c in "^\\" else c) for c in text)


def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


class Tally:
    def __init__(self):
        self.trials = self.lost = self.torn = self.leftovers = self.bad_runs = self.uncovered = 0
        self.notes = []

    def fault(self, kind, text):
        setattr(self, kind, getattr(self, kind) + 1)
        if len(self.notes) < 12:
            self.notes.append(f"[{kind}] {text}")


class Bench:
    """One installation (a copy of the program with its own jobs and log), one source tree and
    one target, for one style."""

    def __init__(self, args, style, root, target=None):
        self.args, self.style, self.opts = args, style, STYLES[style]
        self.root = root
        self.app = os.path.join(root, "app")
        self.src = os.path.join(root, "src", "data")
        self.target = target or os.path.join(root, "target")
        os.makedirs(os.path.join(self.app, "BackupJobs"))
        os.makedirs(self.src)
        os.makedirs(self.target, exist_ok=True)
        os.makedirs(os.path.join(root, "run"), mode=0o700)
        os.makedirs(os.path.join(root, "home"))
        shutil.copy2(args.stowline, os.path.join(self.app, "stowline"))
        self.rng = random.Random(f"{args.seed}-{style}")
        self.serial = 0
        self.versions = {}  # relative path -> every checksum its source ever had
        self.source = {}  # relative path -> checksum now
        self.copied = {}  # the source as the last completed run saw it
        self.record = {}  # final name -> archive checksum after the last completed run
        self.retirable = set()  # recorded archives a completed run may retire
        self.strays = set()  # names outside the job's final names, reported once
        self.make_tree()

    # ---- the source tree ----

    def write_file(self, rel, size):
        path = os.path.join(self.src, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self.serial += 1
        head = f"{rel} version {self.serial}\n".encode()
        # Half text (it compresses), half noise (it does not), so that zipping takes real time.
        body = (head * (size // (2 * len(head)) + 1))[: size // 2] + self.rng.randbytes(size - size // 2)
        with open(path, "wb") as f:
            f.write(body)
        digest = hashlib.sha256(body).hexdigest()
        self.source[rel] = digest
        self.versions.setdefault(rel, set()).add(digest)

    def make_tree(self):
        for i in range(self.args.files):
            rel = f"d{i % 7}/s{i % 3}/f{i:04d}.txt" if i % 4 else f"top{i:04d}.dat"
            self.write_file(rel, self.rng.randint(50, 20000))
        for i in range(self.args.big_files):
            self.write_file(f"big/b{i}.bin", self.args.big_mb << 20)

    def mutate(self):
        """Changes some files between runs, so that versions differ; adds one, removes one."""
        names = sorted(self.source)
        for rel in self.rng.sample(names, max(2, len(names) // 20)):
            self.write_file(rel, self.rng.randint(50, 20000) if not rel.startswith("big/") else self.args.big_mb << 20)
        self.write_file(f"big/b{self.rng.randrange(max(1, self.args.big_files))}.bin", self.args.big_mb << 20)
        self.write_file(f"new/n{self.serial:05d}.txt", self.rng.randint(50, 5000))
        gone = self.rng.choice([n for n in sorted(self.source) if not n.startswith("big/")])
        os.unlink(os.path.join(self.src, gone))
        del self.source[gone]

    # ---- the job and its runs ----

    def write_job(self, one_shot=None):
        o = self.opts
        lines = ["[Config]", f"JobName={JOB}", "DateLastRun=Jan-01-1900 00:00", "SizeLastRun=-1", "RunCount=0",
                 "StartTime=12:00", "Frequency=4" if one_shot else "Frequency=1", "DayOfWeek=254", "DayOfMonth=1",
                 f"Compress={-1 if o['compress'] else 0}", f"CopyStyle={o['copy_style']}", f"KeepCount={o['copies']}",
                 f"KeepPeriod={o['keep']}", "Password=" + self.password_value(), "ParseSubDir=-1",
                 f"Incremental={-1 if o['incremental'] else 0}", "Suspended=0", "PreBackupCommand=",
                 "PostBackupCommand=", f"TargetDir={self.target}/", "[Source]", f"File_0={self.src}/*.*",
                 "[Exclude]", "[OneShot]"]
        if o.get("aes"):
            lines.insert(lines.index("[Source]"), "Encryption=AES256")
        if one_shot:
            lines.append(f"0={one_shot}")
        with open(os.path.join(self.app, "BackupJobs", JOB + ".slj"), "w", newline="", encoding="latin-1") as f:
            f.write("".join(line + "\r\n" for line in lines))

    def password_value(self):
        """The Password value as the job file keeps it: each byte XOR 0xA5."""
        if not self.opts.get("aes"):
            return ""
        return bytes(b ^ 0xA5 for b in AES_PASSWORD.encode()).decode("latin-1")

    def env(self, **shim):
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        e.update(QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=os.path.join(self.root, "run"),
                 HOME=os.path.join(self.root, "home"))
        if shim:
            e["LD_PRELOAD"] = self.args.shim
            e.update({k: str(v) for k, v in shim.items()})
        return e

    def log_size(self):
        try:
            return os.path.getsize(os.path.join(self.app, "stowline.log"))
        except OSError:
            return 0

    def log_since(self, offset):
        try:
            with open(os.path.join(self.app, "stowline.log"), "rb") as f:
                f.seek(offset)
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def run(self, kill_at=0, delay=None, trace=None, kill_kind=None):
        """Runs the job once. Returns the exit status (-9 when killed). trace: a file the shim
        writes each name change in the target to (see steps); kill_kind: the first step whose
        line matches this pattern is killed."""
        self.write_job()
        shim = dict(KILLSHIM_MATCH=self.target, KILLSHIM_CALL=kill_at)
        if kill_kind:
            shim["KILLSHIM_KILL_AT"] = kill_kind
        if trace:
            if os.path.exists(trace):
                os.unlink(trace)
            shim["KILLSHIM_TRACE"] = trace
        p = subprocess.Popen([os.path.join(self.app, "stowline"), "/RUN", JOB, "/EXIT"], env=self.env(**shim),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if delay is not None:
            try:
                p.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                p.send_signal(signal.SIGKILL)
        try:
            return p.wait(timeout=300)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            return -999

    # ---- the kinds of step a run makes ----

    def roles(self):
        """(role, pattern) for the names a run changes, the pattern (matched whole, first one
        first) in the syntax both Python and POSIX extended regular expressions read alike."""
        tmp = "[.]" + TMP_PREFIX[1:] + "[^/]*"
        archives = ([(None, ere_literal(JOB) + "(_[0-9]+)?[.]zip")] if self.opts["keep"] == "Copies" else
                    [("a dated archive", ere_literal(JOB) + "_[Pp]?[0-9]{8}([(][0-9]+[)])?[.]zip")])
        return [("the temporary folder", tmp), ("a temporary file", tmp + "/[^/ ]+"),
                ("a temporary tree", tmp + "/[^/ ]+/[^ ]+")] + archives + [
                ("the copy's root", "data"), ("the copy tree", "data/[^ ]+"), ("another name", "[^ ]+")]

    def role(self, path):
        """What a name in a traced call is to the job, and the pattern that matches it."""
        target = ere_literal(self.target)
        if path == self.target:
            return "the target", target
        if not path.startswith(self.target + "/"):
            return "elsewhere", "[^ ]+"
        rel = path[len(self.target) + 1:]
        for role, pattern in self.roles():
            if re.fullmatch(pattern, rel):
                # Each counted name has its own place in a rotation: it is a role of its own.
                return (rel, target + "/" + ere_literal(rel)) if role is None else (role, target + "/" + pattern)
        return "another name", "[^ ]+"

    def steps(self, trace):
        """The kinds of the traced calls, in order: ("renameat2 Job_1.zip -> Job_2.zip", the
        pattern for the shim's KILLSHIM_KILL_AT that matches a call of that kind)."""
        kinds = []
        try:
            with open(trace) as f:
                lines = f.read().splitlines()
        except OSError:
            return kinds
        for line in lines:
            _, op, names = line.split(" ", 2)
            roles = [self.role(name) for name in names.split(" -> ")]
            kinds.append((" -> ".join([op + " " + roles[0][0]] + [r[0] for r in roles[1:]]),
                          "^" + op + " " + " -> ".join(r[1] for r in roles) + "$"))
        return kinds

    # ---- what stands in the target ----

    def final_archive(self, name):
        if self.opts["keep"] == "Copies":
            return re.fullmatch(re.escape(JOB) + r"(_\d+)?\.zip", name) is not None
        return re.fullmatch(re.escape(JOB) + r"_[Pp]?\d{8}(\(\d+\))?\.zip", name) is not None

    def scan_zip(self, tally, where):
        """The job's archives under final names (name -> checksum); counts torn ones and strays."""
        finals, strays = {}, []
        for name in sorted(os.listdir(self.target)):
            path = os.path.join(self.target, name)
            if not self.final_archive(name):
                strays.append(name)
                continue
            if self.opts.get("aes"):
                r = subprocess.run([SEVENZ, "t", "-p" + AES_PASSWORD, path], capture_output=True)
                bad = None if r.returncode == 0 else f"7-Zip says {r.returncode}"
            else:
                try:
                    with zipfile.ZipFile(path) as z:
                        bad = z.testzip()
                except (zipfile.BadZipFile, OSError, EOFError) as e:
                    bad = str(e) or "unreadable"
            if bad is not None:
                tally.fault("torn", f"{where}: {name} does not read back ({bad})")
            finals[name] = sha(path)
        return finals, strays

    def scan_copy(self, tally, where):
        """The files of the copy target (relative path -> checksum); counts torn ones and strays."""
        dest = os.path.join(self.target, "data")
        files, strays = {}, [n for n in os.listdir(self.target) if n != "data"]
        for folder, dirs, names in os.walk(dest):
            for name in names:
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, dest)
                if rel not in self.versions:
                    strays.append(rel)
                    continue
                digest = sha(path)
                if digest not in self.versions[rel]:
                    tally.fault("torn", f"{where}: {rel} equals no version of its source")
                files[rel] = digest
        return files, strays

    def check_interrupted(self, tally, where):
        """The state after a run that did not complete (killed, stopped, or out of space)."""
        if self.opts["compress"]:
            finals, _ = self.scan_zip(tally, where)
            present, recorded = set(finals.values()), set(self.record.values())
            fresh = present - recorded
            for name, d in sorted(self.record.items()):
                if d in present or (fresh and d in self.retirable):
                    continue
                tally.fault("lost", f"{where}: generation {name} is gone")
        else:
            files, _ = self.scan_copy(tally, where)
            new_complete = all(files.get(r) == d for r, d in self.source.items())
            missing = [r for r in self.copied if r not in files and not (new_complete and r not in self.source)]
            if missing:
                tally.fault("lost", f"{where}: {len(missing)} of {len(self.copied)} files of the previous copy "
                                    f"are gone (e.g. {missing[0]})")

    def check_completed(self, tally, where):
        """The state after a run that reported success; records it as the new generation set."""
        if self.opts["compress"]:
            finals, strays = self.scan_zip(tally, where)
            newest = self.newest(finals)
            if newest is None:
                tally.fault("bad_runs", f"{where}: no archive after a completed run")
            else:
                self.check_contents(tally, where, os.path.join(self.target, newest))
            self.record = finals
            self.retirable = {d for n, d in finals.items() if n == f"{JOB}_{self.opts['copies']}.zip"}
        else:
            files, strays = self.scan_copy(tally, where)
            stale = [r for r, d in self.source.items() if files.get(r) != d]
            if stale:
                tally.fault("bad_runs", f"{where}: {len(stale)} source files not backed up (e.g. {stale[0]})")
            if self.opts["copy_style"] == 0:
                extra = [r for r in files if r not in self.source]
                if extra:
                    tally.fault("bad_runs", f"{where}: the rebuilt copy holds removed files (e.g. {extra[0]})")
            self.copied = dict(self.source)
        strays = [n for n in strays if n not in self.strays]
        if strays:
            self.strays.update(strays)
            tally.fault("leftovers", f"{where}: left behind {strays[:3]}")

    def newest(self, finals):
        names = sorted(finals)
        if self.opts["keep"] == "Copies":
            return f"{JOB}.zip" if f"{JOB}.zip" in names else None

        # A dated name is reused once pruning freed it, so the newest is the one written last.
        return max(names, key=lambda n: os.stat(os.path.join(self.target, n)).st_mtime_ns) if names else None

    def check_contents(self, tally, where, archive):
        """The newest archive holds every source file as it is now."""
        if self.opts.get("aes"):
            crcs = self.aes_crcs(archive)
        else:
            with zipfile.ZipFile(archive) as z:
                crcs = {i.filename: i.CRC for i in z.infolist()}
        for rel in self.source:
            with open(os.path.join(self.src, rel), "rb") as f:
                crc = zlib.crc32(f.read())
            if crcs.get(os.path.join(self.src, rel).lstrip("/")) != crc:
                tally.fault("bad_runs", f"{where}: the newest archive lacks the current {rel}")
                return

    def aes_crcs(self, archive):
        """Entry name -> CRC-32 of the data 7-Zip decrypts (AES entries keep no CRC of their own)."""
        out = tempfile.mkdtemp(prefix="aes-", dir=self.root)
        try:
            subprocess.run([SEVENZ, "x", "-y", "-p" + AES_PASSWORD, "-o" + out, archive], capture_output=True)
            crcs = {}
            for folder, _, names in os.walk(out):
                for name in names:
                    path = os.path.join(folder, name)
                    if not os.path.islink(path):
                        with open(path, "rb") as f:
                            crcs[os.path.relpath(path, out)] = zlib.crc32(f.read())
            return crcs
        finally:
            shutil.rmtree(out, ignore_errors=True)

    # ---- keep-by-age housekeeping: old archives to purge, and no endless pile of today's ----

    def plant_old_archive(self):
        """An archive dated well before the cut-off, so that every run has something to purge."""
        day = (date.today() - timedelta(days=10 + self.rng.randrange(300))).strftime("%Y%m%d")
        name = f"{JOB}_{day}.zip"
        path = os.path.join(self.target, name)
        if os.path.exists(path):
            return
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("old.txt", f"old generation {self.serial} {self.rng.random()}")
        self.record[name] = sha(path)
        self.retirable.add(self.record[name])

    def prune_today(self, keep=3):
        def copy_number(n):
            m = re.search(r"\((\d+)\)", n)
            return int(m.group(1)) if m else 0
        today = date.today().strftime("%Y%m%d")
        mine = sorted((n for n in self.record if f"_{today}" in n), key=copy_number)[:-keep]
        for n in mine:
            os.unlink(os.path.join(self.target, n))
            del self.record[n]

    def before_run(self):
        self.mutate()
        if self.opts["keep"] != "Copies":
            self.prune_today()
            self.plant_old_archive()

    def leftovers_in_target(self):
        found = []
        for folder, dirs, names in os.walk(self.target):
            found += [os.path.join(folder, n) for n in dirs + names if n.startswith(TMP_PREFIX)]
        return found

    def rerun(self, tally, where):
        """Runs the job again after an interruption: it must succeed and clean up after itself."""
        rc = self.run()
        if rc != 0:
            tally.fault("bad_runs", f"{where}: the rerun exited {rc}")
        self.check_completed(tally, where + ", rerun")
        left = self.leftovers_in_target()
        if left:
            tally.fault("leftovers", f"{where}: {left[0]} remains after the rerun")

    def prepare(self, tally):
        """Earlier complete runs, so that the job has generations to lose."""
        for i in range(self.opts["copies"] + 1):
            if i:
                self.mutate()
            rc = self.run()
            if rc != 0:
                tally.fault("bad_runs", f"setup run {i} exited {rc}")
            self.check_completed(tally, f"setup run {i}")


# Steps a complete run of the style must make (with its generations in place), named by the
# family of the call (rename, unlink, rmdir) and the roles of its names: were one gone, the
# kills chosen from a traced run would no longer reach it, and the trials would not say so.
REQUIRED_STEPS = {
    "zip-count": ["rename Job_3.zip -> Job_4.zip", "rename Job.zip -> Job_1.zip", "rename a temporary file -> Job.zip",
                  "unlink Job_4.zip"],
    "zip-aes": ["rename Job_3.zip -> Job_4.zip", "rename a temporary file -> Job.zip", "unlink Job_4.zip"],
    "zip-age": ["rename a temporary file -> a dated archive", "unlink a dated archive"],
    "rebuild": ["rename a temporary tree -> the copy's root", "unlink a temporary tree"],
    "update": ["rename a temporary file -> the copy tree"],
    "incremental": ["rename a temporary file -> the copy tree"],
}


def call_family(kind):
    """A kind of step with its call named by family: renameat2 and rename alike are "rename"."""
    op, rest = kind.split(" ", 1)
    family = "rename" if op.startswith("rename") else "unlink" if op in ("unlink", "unlinkat", "remove") else op
    return family + " " + rest


def kill_trials(args, bench, tally):
    """Kills at chosen name changes in the target: at every kind of step a traced complete run
    makes (the shim kills at the first call of the kind, in the very run; a run that happens not
    to make it is tried again, as generations and leftovers differ from run to run), then at
    calls spread over the run, then at random times."""
    trace = os.path.join(bench.root, "trace")
    bench.before_run()
    t0 = time.monotonic()
    rc = bench.run(trace=trace)
    duration = time.monotonic() - t0
    steps = bench.steps(trace)
    bench.check_completed(tally, "calibration run")
    if rc != 0:
        tally.fault("bad_runs", f"{bench.style} calibration run exited {rc}")
    kinds = dict(steps)
    for kind in REQUIRED_STEPS.get(bench.style, []):
        if kind not in {call_family(k) for k in kinds}:
            tally.fault("uncovered", f"{bench.style}: a complete run makes no '{kind}' step (it made {list(kinds)})")
    hit = set()

    def trial(where, **kill):
        """Kills the next run as asked; returns the kind of step killed ("" for none)."""
        nonlocal steps
        bench.before_run()
        rc = bench.run(trace=trace, **kill)
        done = bench.steps(trace)
        tally.trials += 1
        if rc == 0:
            bench.check_completed(tally, where + " (ran to the end)")
            steps = done or steps
            return ""
        if rc != -signal.SIGKILL:
            tally.fault("bad_runs", f"{where}: exited {rc}")
        killed = done[-1][0] if done else ""
        bench.check_interrupted(tally, f"{where}, at '{killed}'")
        bench.rerun(tally, where)
        return killed

    for kind, pattern in kinds.items():
        for _ in range(4):
            if kind in hit:
                break
            hit.add(trial(f"{bench.style} kill at '{kind}'", kill_kind=pattern))
        if kind not in hit:
            tally.fault("uncovered", f"{bench.style}: no kill landed on a '{kind}' step")
    # Calls spread over the run from a random start: with as many trials as calls, every one.
    start = bench.rng.randrange(max(1, len(steps)))
    for i in range(args.kill_trials):
        n = 1 + (start + i * max(1, len(steps)) // args.kill_trials) % max(1, len(steps))
        hit.add(trial(f"{bench.style} kill at call {n}", kill_at=n))
    hit.discard("")
    print(f"    {bench.style}: kills landed on {len(hit)} kinds of step: {'; '.join(sorted(hit))}", flush=True)
    for _ in range(args.random_trials):
        bench.before_run()
        delay = bench.rng.uniform(0.05, duration * 1.1)
        rc = bench.run(delay=delay)
        tally.trials += 1
        where = f"{bench.style} kill after {delay:.2f}s"
        if rc == 0:
            bench.check_completed(tally, where + " (ran to the end)")
            continue
        bench.check_interrupted(tally, where)
        bench.rerun(tally, where)
    return len(steps), duration


def mount_tmpfs(path, size):
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", path], capture_output=True, text=True)
    return r.returncode == 0, r.stderr.strip()


def full_disk_trials(args, root, style, tally):
    """Earlier generations made on a roomy disk; then the disk is shrunk so that the new backup
    cannot fit, and several runs fail in a row; then room is made and the job must recover."""
    target = os.path.join(root, "target")
    os.makedirs(target)
    ok, why = mount_tmpfs(target, "512m")
    if not ok:
        print(f"SKIPPED: full-disk trials for {style}: cannot mount a tmpfs ({why or 'not permitted'})")
        return False
    try:
        bench = Bench(args, style, root, target)
        bench.prepare(tally)
        st = os.statvfs(target)
        used = (st.f_blocks - st.f_bfree) * st.f_frsize
        size = used + (256 << 10)
        subprocess.run(["mount", "-o", f"remount,size={size}", target], check=True)
        bench.before_run()
        # A new file bigger than the whole disk: no way of writing the backup can make it fit.
        bench.write_file("big/huge.bin", size + (1 << 20))
        for i in range(args.full_disk_runs):
            offset = bench.log_size()
            rc = bench.run()
            tally.trials += 1
            where = f"{style} full disk, failed run {i + 1}"
            if rc != 1:
                tally.fault("bad_runs", f"{where}: exited {rc}, not 1")
            if "No space left on device" not in bench.log_since(offset):
                tally.fault("bad_runs", f"{where}: the log does not name the reason")
            bench.check_interrupted(tally, where)
        subprocess.run(["mount", "-o", "remount,size=512m", target], check=True)
        bench.rerun(tally, f"{style} full disk")
    finally:
        subprocess.run(["umount", "-l", target])
    return True


def sigterm_trials(args, bench, tally):
    """The headless agent runs the job when it falls due and is stopped with SIGTERM while it
    writes; it must exit 0 and leave the earlier backups whole."""
    scale = 60  # the agent's clocks run 60 times faster: its 30 s tick comes every half second
    for _ in range(args.sigterm_trials):
        bench.before_run()
        start = datetime.now()
        due = (start + timedelta(seconds=95)).replace(second=0, microsecond=0)
        bench.write_job(one_shot=f"{MONTHS[due.month - 1]}-{due:%d-%Y %H:%M}")
        offset = bench.log_size()
        p = subprocess.Popen([os.path.join(bench.app, "stowline"), "/SILENT"],
                             env=bench.env(KILLSHIM_TIMESCALE=scale), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        where = f"{bench.style} SIGTERM to the agent"
        tally.trials += 1
        deadline = time.monotonic() + 60
        while f"-- {JOB} " not in bench.log_since(offset) and time.monotonic() < deadline and p.poll() is None:
            time.sleep(0.02)
        if f"-- {JOB} " not in bench.log_since(offset):
            tally.fault("bad_runs", f"{where}: the job never started")
        time.sleep(bench.rng.uniform(0, args.sigterm_window))
        p.send_signal(signal.SIGTERM)
        try:
            rc = p.wait(timeout=120)
        except subprocess.TimeoutExpired:
            p.kill()
            rc = p.wait()
        if rc != 0:
            tally.fault("bad_runs", f"{where}: the agent exited {rc}")
        bench.check_interrupted(tally, where)
        bench.rerun(tally, where)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--stowline", required=True)
    ap.add_argument("--shim", required=True)
    ap.add_argument("--styles", default=",".join(STYLES))
    ap.add_argument("--kill-trials", type=int, default=2,
                    help="kills at name changes spread over a run, per style, beyond one at each kind of step")
    ap.add_argument("--random-trials", type=int, default=2, help="kills at a random time, per style")
    ap.add_argument("--sigterm-trials", type=int, default=1, help="per style")
    ap.add_argument("--sigterm-window", type=float, default=0.5, help="seconds after the run starts")
    ap.add_argument("--full-disk-styles", default="zip-count,rebuild")
    ap.add_argument("--full-disk-runs", type=int, default=3)
    ap.add_argument("--files", type=int, default=300)
    ap.add_argument("--big-files", type=int, default=2)
    ap.add_argument("--big-mb", type=int, default=2)
    ap.add_argument("--seed", default=str(random.randrange(1 << 30)))
    ap.add_argument("--keep", action="store_true", help="keep the trial folders")
    args = ap.parse_args()
    args.stowline, args.shim = os.path.abspath(args.stowline), os.path.abspath(args.shim)
    print(f"crash trials: seed {args.seed}", flush=True)

    work = tempfile.mkdtemp(prefix="stowline-crash-")
    rows, skipped = [], []
    try:
        for style in args.styles.split(","):
            tally = Tally()
            t0 = time.monotonic()
            bench = Bench(args, style, os.path.join(work, style))
            bench.prepare(tally)
            calls, duration = kill_trials(args, bench, tally)
            if args.sigterm_trials:
                sigterm_trials(args, bench, tally)
            if style in args.full_disk_styles.split(","):
                if not full_disk_trials(args, os.path.join(work, style + "-full"), style, tally):
                    skipped.append(style)
            rows.append((style, tally))
            print(f"  {style}: {tally.trials} trials in {time.monotonic() - t0:.0f}s "
                  f"({calls} name changes and {duration:.2f}s per run)", flush=True)
            for note in tally.notes:
                print(f"    {note}")
    finally:
        if args.keep:
            print(f"trial folders kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)

    print(f"\n{'style':<12} {'trials':>7} {'gens lost':>10} {'torn':>6} {'leftovers':>10} {'bad runs':>9} "
          f"{'uncovered':>10}")
    for style, t in rows:
        print(f"{style:<12} {t.trials:>7} {t.lost:>10} {t.torn:>6} {t.leftovers:>10} {t.bad_runs:>9} "
              f"{t.uncovered:>10}")
    if skipped:
        print(f"SKIPPED: full-disk trials for {', '.join(skipped)} (no tmpfs mount allowed here)")
    faults = sum(t.lost + t.torn + t.leftovers + t.bad_runs + t.uncovered for _, t in rows)
    print("PASSED" if not faults else f"FAILED: {faults} faults")
    return 0 if not faults else 1


if __name__ == "__main__":
    sys.exit(main())
