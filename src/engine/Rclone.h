#pragma once
// rclone driven as an external program: every remote operation of an off-site copy is one
// rclone command. rclone's own configuration is used as it is (RCLONE_CONFIG and the rest of the
// environment are inherited); nothing here holds a credential.

#include <string>
#include <vector>

namespace Rclone {

struct Result {
    int Status = -1;    // rclone's exit status; -1 when it could not be started or was killed
    std::string Output; // what it wrote to standard output
    std::string Reason; // why it failed: its last error line, trimmed ("" after success)
    bool Ok() const { return Status == 0; }
};

// rclone's exit status for a folder that does not exist.
constexpr int DirectoryNotFound = 3;

// Runs "rclone <args>" (found through PATH) with no input and waits for it, letting events run.
// It never asks for a password: an encrypted configuration without its password fails.
Result Run(const std::vector<std::string>& args);

} // namespace Rclone
