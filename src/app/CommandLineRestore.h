#pragma once
// "/RESTORE <job> [/FROM <archive, folder or remote path>] [/TO <folder>] [/ONLY <wildcard>]... [/OVERWRITE]"
// and "/VERIFY <job>...": reading backups back from scripts, without a window. Both print a
// summary on standard output and return the process's exit status.

#include <string>
#include <vector>

namespace CommandLineRestore {

// args as SplitCommandLine gives them (index 0 empty). 0: everything asked was restored (files
// kept by the conflict rule count as done); 1: something was not restored (no such job, no
// backup, unreadable, wrong password, a download failed, a file refused or failed); 2: usage (the
// help box shown). A /FROM value that names no local file or folder and has the form
// "<remote>:<path>" is a backup on an rclone remote, downloaded into the job's temporary folder
// and restored from there. A dated snapshot folder is restored as a copy tree (a name without a
// folder may name one of the job's snapshots); the snapshots' "latest" link is taken for the
// snapshot it names, once, before anything is read. Without /FROM the newest backup is used: for
// a job that keeps snapshots, its newest snapshot.
int Restore(const std::vector<std::string>& args);

// 0 when the newest backup of every job named after "/VERIFY" reads back whole (and, for a job
// with an off-site remote, the newest remote backup is the newest local one), else 1; 2 for
// no job named (the help box shown).
int Verify(const std::vector<std::string>& args);

} // namespace CommandLineRestore
