#pragma once
// What the job editor asks rclone before a job gets an off-site copy: whether rclone is there,
// which remotes its configuration names, and whether a remote path can be listed, written to,
// read back and cleaned up. Every question is one or a few rclone commands (Rclone::Run), so
// rclone's own configuration (RCLONE_CONFIG respected) answers them; nothing here stores any.

#include <string>
#include <vector>

namespace OffsiteProbe {

// Whether an executable "rclone" is in a folder of PATH (where Rclone::Run looks for it).
bool RcloneInstalled();

struct RemoteList {
    std::vector<std::string> Names; // "name:" each, in rclone's order
    std::string Reason;             // why rclone could not list them ("" when it could)
};
// The remotes of `rclone listremotes`.
RemoteList Remotes();

struct TestResult {
    std::string Failure;        // "" when every step succeeded, else which step failed and why
    bool FolderMissing = false; // the folder did not exist: the test made it and removed it again
    bool Ok() const { return Failure.empty(); }
};
// Tests sRemote (a remote path such as "nas:backups") the way an upload uses it: lists it, writes
// a small file into it under a name of its own (".stowline-test-<random>"), reads its size back
// and removes it. A folder that does not exist yet is fine when its parent can be listed: the
// write makes it, as the first upload will, and the test removes it again. Whatever the test
// wrote is removed on every way out once it was written. Each rclone command gives up on an
// unreachable server within seconds.
TestResult Test(const std::string& sRemote);

// Why rclone refuses sLimit as its --bwlimit value ("" when it accepts it, or when rclone is not
// installed and cannot be asked).
std::string BandwidthProblem(const std::string& sLimit);

// The parent of a remote path: "nas:a/b" -> "nas:a", "nas:a" -> "nas:", "/srv/x" -> "/srv";
// "" when it has none ("nas:", "/").
std::string ParentOf(const std::string& sRemote);

} // namespace OffsiteProbe
