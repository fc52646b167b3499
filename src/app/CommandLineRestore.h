#pragma once
// "/RESTORE <job> [/FROM <archive or folder>] [/TO <folder>] [/ONLY <wildcard>]... [/OVERWRITE]"
// and "/VERIFY <job>...": reading backups back from scripts, without a window. Both print a
// summary on standard output and return the process's exit status.

#include <string>
#include <vector>

namespace CommandLineRestore {

// args as SplitCommandLine gives them (index 0 empty). 0: everything asked was restored (files
// kept by the conflict rule count as done); 1: something was not restored (no such job, no
// backup, unreadable, wrong password, a file refused or failed); 2: usage (the help box shown).
int Restore(const std::vector<std::string>& args);

// 0 when the newest backup of every job named after "/VERIFY" reads back whole, else 1; 2 for
// no job named (the help box shown).
int Verify(const std::vector<std::string>& args);

} // namespace CommandLineRestore
