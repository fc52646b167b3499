#pragma once
// A job's password where it is kept outside the job file: in the desktop keyring, reached
// through the PasswordVault seam by the job's name.

#include "support/PasswordVault.h"

#include <string>

class CBackupJob;

namespace JobPassword {

// Gives the job its password for a run, restore or verify. A job that keeps it in its file
// has it already: true. One that keeps it in the keyring gets it read into memory (never into
// the file, and without marking the job changed): true once read; false when the keyring cannot
// be reached or holds no entry, with sProblem the text to show
// (PasswordVault::UnreachableText).
bool Fetch(CBackupJob& job, std::string& sProblem);

// The keyring entry of a job renamed from sOldName to sNewName goes with it: copied to the new
// name unless an entry is there already (one written for the renamed job just before), then
// removed under the old one. NotFound when there was nothing to move.
PasswordVault::Result MoveEntry(const std::string& sOldName, const std::string& sNewName);

} // namespace JobPassword
