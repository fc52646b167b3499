#pragma once
// "stowline /SETPASSWORD <job>": keeps a job's password in the desktop keyring, for machines
// where a keyring is started by hand (no editor at hand, or no display).

#include <string>
#include <vector>

namespace KeyringCommand {

// Reads the password from standard input (without echo on a terminal), stores it in the keyring
// under the job's name and turns the job file to PasswordStore=Keyring with an empty Password.
// args as appSetup::SplitCommandLine gives them. Returns the exit status: ExitOk, ExitJobFailed
// (unknown job, no password given, keyring unreachable, job file not saved), ExitUsage.
int SetPassword(const std::vector<std::string>& args);

} // namespace KeyringCommand
