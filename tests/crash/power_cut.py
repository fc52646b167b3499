#!/usr/bin/env python3
"""Power cut: a copy-style run replaces its earlier copies on a small ext4 file system made for
the test; right after the run reports success the file system is shut down the way a power cut
leaves it (its journal on disk, file data not yet written back: EXT4_IOC_SHUTDOWN with
LOGFLUSH), then mounted again. Every file of the copy must then be the complete new version: the
run said it succeeded. The file system is mounted with noauto_da_alloc, so that nothing but the
program's own flushes puts the data on disk before the renames.

Runs an Update, a Freshen and a Rebuild. Needs root (loop mount); exits 77 (skipped) without it.

Usage: power_cut.py --stowline BIN
"""
import argparse
import fcntl
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
EXT4_IOC_SHUTDOWN = 0x8004587D  # _IOR('X', 125, __u32)
SHUTDOWN_LOGFLUSH = 1
FILES = 120


def body(tag, i):
    return (f"{tag} version of file {i}\n" * (40 + i * 7)).encode()


class Disk:
    def __init__(self, root):
        self.image, self.mnt = os.path.join(root, "disk.img"), os.path.join(root, "mnt")
        os.makedirs(self.mnt)
        with open(self.image, "wb") as f:
            f.truncate(128 << 20)
        subprocess.run(["mkfs.ext4", "-q", "-F", self.image], check=True)
        self.mounted = False

    def mount(self, opts="loop,noauto_da_alloc"):
        subprocess.run(["mount", "-o", opts, self.image, self.mnt], check=True)
        self.mounted = True

    def power_cut(self):
        fd = os.open(self.mnt, os.O_RDONLY)
        try:
            fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", SHUTDOWN_LOGFLUSH))
        finally:
            os.close(fd)
        self.umount()

    def umount(self):
        if self.mounted:
            subprocess.run(["umount", self.mnt], check=True)
            self.mounted = False


def write_job(app, style, target, src):
    lines = ["[Config]", "JobName=Job", "DateLastRun=Jan-01-1900 00:00", "SizeLastRun=-1", "RunCount=0",
             "StartTime=12:00", "Frequency=1", "DayOfWeek=254", "DayOfMonth=1", "Compress=0", f"CopyStyle={style}",
             "KeepCount=3", "KeepPeriod=Copies", "Password=", "ParseSubDir=-1", "Incremental=0", "Suspended=0",
             "PreBackupCommand=", "PostBackupCommand=", f"TargetDir={target}/", "[Source]", f"File_0={src}/*.*",
             "[Exclude]", "[OneShot]"]
    with open(os.path.join(app, "BackupJobs", "Job.slj"), "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))


def write_tree(src, tag):
    for i in range(FILES):
        sub = os.path.join(src, f"d{i % 4}")
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, f"f{i:03d}.txt"), "wb") as f:
            f.write(body(tag, i))


def run(app, env, style, target, src):
    write_job(app, style, target, src)
    p = subprocess.run([os.path.join(app, "stowline"), "/RUN", "Job", "/EXIT"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return p.returncode


def trial(args, root, name, style):
    """Returns a list of faults."""
    disk = Disk(os.path.join(root, name))
    app = os.path.join(root, name, "app")
    src = os.path.join(root, name, "src", "data")
    os.makedirs(os.path.join(app, "BackupJobs"))
    shutil.copy2(args.stowline, os.path.join(app, "stowline"))
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(QT_QPA_PLATFORM="offscreen", HOME=os.path.join(root, name), XDG_RUNTIME_DIR=os.path.join(root, name))
    try:
        disk.mount()
        target = os.path.join(disk.mnt, "target")
        os.makedirs(target)
        write_tree(src, "old")
        if run(app, env, 1, target, src) != 0:  # the earlier copy, made by an Update
            return [f"{name}: the first run failed"]
        subprocess.run(["sync"], check=True)
        time.sleep(0.05)
        write_tree(src, "new")
        if run(app, env, style, target, src) != 0:
            return [f"{name}: the run failed"]
        disk.power_cut()
        disk.mount("loop")
        faults = []
        for i in range(FILES):
            path = os.path.join(target, "data", f"d{i % 4}", f"f{i:03d}.txt")
            try:
                with open(path, "rb") as f:
                    got = f.read()
            except OSError as e:
                got = None
                faults.append(f"{name}: {path} is gone after the power cut ({e.strerror})")
            if got is not None and got != body("new", i):
                what = "empty" if not got else "the earlier version" if got == body("old", i) else "torn"
                faults.append(f"{name}: {os.path.relpath(path, target)} is {what} after a run that succeeded")
        return faults
    finally:
        disk.umount()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--stowline", required=True)
    args = ap.parse_args()
    args.stowline = os.path.abspath(args.stowline)
    if os.geteuid() != 0 or shutil.which("mkfs.ext4") is None:
        print("skipped: needs root and mkfs.ext4 for a loop-mounted ext4")
        return SKIP
    root = tempfile.mkdtemp(prefix="stowline-powercut-")
    faults = []
    try:
        for name, style in (("update", 1), ("freshen", 2), ("rebuild", 0)):
            try:
                found = trial(args, root, name, style)
            except (subprocess.CalledProcessError, OSError) as e:
                print(f"skipped: no loop-mounted ext4 to cut the power of ({e})")
                return SKIP
            faults += found
            print(f"{name}: {len(found)} files not whole after the power cut")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for text in faults[:20]:
        print("FAULT:", text)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
