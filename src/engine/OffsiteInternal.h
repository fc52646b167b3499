#pragma once
// What the two off-site styles (engine/Offsite.cpp for archives, engine/OffsiteTree.cpp for
// copy trees) share: the failure they throw, rclone commands that must succeed, and the dated
// stamp both put into remote names.

#include "engine/Rclone.h"

#include <string>
#include <vector>

namespace OffsiteInternal {

// Thrown with rclone's reason when a step fails; the style's entry point logs it once.
struct Failed {
    std::string Reason;
};

// What an off-site step has sent so far, and who hears of its progress (the run's window).
struct Sent {
    Rclone::Stats Total;
    Rclone::StatsSink OnStats; // given the step's running total; may be empty
};

// Runs an rclone command that must succeed; throws Failed with its reason otherwise.
Rclone::Result Must(const std::vector<std::string>& args);
// The same for a command that moves file contents to the remote (subject to the bandwidth limit);
// what it moved is added to sent, its progress handed on as it comes.
Rclone::Result MustSend(const std::vector<std::string>& args, Sent& sent);
// Logs "  Off-site copy sent <amount> in <time> (<speed>)".
void LogSent(const Sent& sent);

// rclone's output lines, the empty ones left out.
std::vector<std::string> Lines(const std::string& sText);

// Refuses a remote that is empty or that rclone would read as one of its own options.
void RefuseOption(const std::string& sRemote);

// What rclone can compare between local files and the remote folder sFolder: the hash both have
// ("md5", "sha1", ...; "" when the remote keeps none a local file also has), and whether the
// remote is a crypt remote (whose files rclone can still check against local ones by the hashes
// of their encrypted form).
struct RemoteKind {
    std::string Hash;
    bool Encrypted = false;
};
RemoteKind KindOf(const std::string& sFolder);
// How the log names a hash.
std::string HashLabel(const std::string& sHash);

} // namespace OffsiteInternal
