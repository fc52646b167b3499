// Offsite::SendTree: the copy style's off-site step. The job's folder on the remote holds
// current/ (the tree as of the last success), versions/YYYY-MM-DD_HHMMSS/ (what a run replaced or
// deleted in current/) and .staging/ (what a run uploads before it goes into current/). rclone's
// SFTP backend, among others, writes an upload in place, so a dropped link would leave a partial
// file under its final name: new and changed files travel to .staging/ first and are then moved
// into current/ on the server, one rename each.

#include "engine/Offsite.h"
#include "engine/OffsiteInternal.h"

#include "support/libDates.h"
#include "support/libLog.h"

#include <algorithm>
#include <utility>

using namespace OffsiteInternal;

namespace {

// The job's folders on the remote.
struct Places {
    std::string Current, Versions, Staging;
};

// Rclone's options that leave out what the program itself keeps in a target: the temporary
// folders and files of runs and restores (they hold nothing finished).
std::vector<std::string> OwnNamesLeftOut() {
    std::vector<std::string> args;
    for (const char* sName : {".stowline-tmp-*", ".stowline-restore-*", ".stowline-??????"}) {
        args.push_back(std::string("--exclude=") + sName);
        args.push_back(std::string("--exclude=") + sName + "/**");
    }
    return args;
}

// "rclone <command> <options> <the tree's filters> -- <paths>": after "--" no path can be taken
// for an option, whatever its name. The copy keeps symbolic links as links, so they travel as
// rclone's link files ("<name>.rclonelink", holding the target), never skipped in silence.
std::vector<std::string> Command(const char* sCommand, std::vector<std::string> options,
                                 std::initializer_list<std::string> paths) {
    std::vector<std::string> args{sCommand, "--links"};
    args.insert(args.end(), std::make_move_iterator(options.begin()), std::make_move_iterator(options.end()));
    const std::vector<std::string> filters = OwnNamesLeftOut();
    args.insert(args.end(), filters.begin(), filters.end());
    args.emplace_back("--");
    args.insert(args.end(), paths.begin(), paths.end());
    return args;
}

// The version folders on the remote, and whether an interrupted run left anything staged.
void Survey(const std::string& sFolder, std::vector<std::string>& versions, bool& bStaged) {
    const Rclone::Result r = Rclone::Run({"lsf", "-R", "--max-depth=2", "--", sFolder});
    if (r.Status == Rclone::DirectoryNotFound) return;
    if (!r.Ok()) throw Failed{r.Reason};
    const std::string sVersions = "versions/";
    for (const std::string& sLine : Lines(r.Output)) {
        if (sLine.size() > 9 && sLine.rfind(".staging/", 0) == 0) bStaged = true; // anything in it
        if (sLine.size() > sVersions.size() + 1 && sLine.rfind(sVersions, 0) == 0 && sLine.back() == '/')
            versions.push_back(sLine.substr(sVersions.size(), sLine.size() - sVersions.size() - 1));
    }
}

// The new and changed files of the tree into .staging/ (compared with current/, so that only
// those travel). What an interrupted run staged is kept where it still matches the tree (with a
// hash to tell); anything else there goes.
void Stage(const std::string& sTree, const Places& at, bool bStaged, const RemoteKind& kind, Sent& sent) {
    if (bStaged && kind.Hash.empty()) {
        Must({"purge", "--", at.Staging});
        bStaged = false;
    }
    const std::vector<std::string> upload = Command("sync", {"--compare-dest=" + at.Current}, {sTree, at.Staging});
    MustSend(upload, sent);
    if (!bStaged) return;
    // A file staged before may since have changed back to what current/ holds: then sync leaves
    // it, and it would replace the right one. Every staged file must be the tree's.
    const Rclone::Result r = Rclone::Run(Command("check", {"--one-way"}, {at.Staging, sTree}));
    if (r.Ok() || r.Status == Rclone::DirectoryNotFound) return;
    libLog::LogEventLevel(1, "  Off-site copy: an interrupted upload is sent again");
    Must({"purge", "--", at.Staging});
    MustSend(upload, sent);
}

// current/ against the tree, every file by hash where both sides have one, else by size. A crypt
// remote has no hash of the plain contents, but rclone checks each file by encrypting the local
// one as it was and comparing the hashes of the encrypted forms, where the remote under it keeps
// hashes.
void Check(const std::string& sTree, const Places& at, const RemoteKind& kind) {
    if (kind.Hash.empty() && kind.Encrypted) {
        const Rclone::Result r = Rclone::Run(Command("cryptcheck", {"--one-way"}, {sTree, at.Current}));
        if (r.Ok()) {
            libLog::LogEventLevel(1, "  Off-site copy checked by the hashes of the encrypted files");
            return;
        }
        // Only where the remote under the crypt one keeps no hash at all: by size below.
        if (r.Reason.find("does not support any hashes") == std::string::npos)
            throw Failed{"the remote copy differs from the backup: " + r.Reason};
    }
    const Rclone::Result r = Rclone::Run(Command("check", {"--one-way"}, {sTree, at.Current}));
    if (!r.Ok()) throw Failed{"the remote copy differs from the backup: " + r.Reason};
    libLog::LogEventLevel(1, "  Off-site copy checked by " +
                                 (kind.Hash.empty() ? std::string("size") : HashLabel(kind.Hash)));
}

// The version folders older than the job keeps; names of another form are never touched.
void Purge(const CBackupJob& job, const Places& at, const std::vector<std::string>& versions, double dNow) {
    const double dCutoff = dNow - std::max(job.OffsiteKeepDays(), 0);
    for (const std::string& sName : versions) {
        double dWhen = 0;
        if (!libDates::ParseStamp(sName, dWhen) || dWhen >= dCutoff) continue;
        Must({"purge", "--", at.Versions + "/" + sName});
        libLog::LogEventLevel(1, "  Off-site versions of " + sName + " removed");
    }
}

} // namespace

namespace Offsite {

bool SendTree(const CBackupJob& job, const std::string& sTree, double dWhen, const Rclone::StatsSink& onStats) {
    const std::string& sRemote = job.OffsiteRemote();
    const std::string sFolder = JobFolder(sRemote, job.JobName());
    const Places at{sFolder + "/current", sFolder + "/versions", sFolder + "/.staging"};
    try {
        RefuseOption(sRemote);
        std::vector<std::string> versions;
        bool bStaged = false;
        Survey(sFolder, versions, bStaged);
        // This run's version folder: never one already there (two runs within a second).
        std::string sStamp = libDates::Stamp(dWhen);
        for (int i = 1; std::find(versions.begin(), versions.end(), sStamp) != versions.end(); ++i)
            sStamp = libDates::Stamp(libDates::AddSeconds(dWhen, i));
        const std::string sBackup = "--backup-dir=" + at.Versions + "/" + sStamp;
        const RemoteKind kind = KindOf(sFolder);
        Sent sent{{}, onStats};
        Stage(sTree, at, bStaged, kind, sent);
        // Each staged file replaces its old self (kept in the version folder) by a rename.
        const Rclone::Result moved =
            Rclone::Run(Command("move", {"--delete-empty-src-dirs", sBackup}, {at.Staging, at.Current}));
        if (!moved.Ok() && moved.Status != Rclone::DirectoryNotFound) throw Failed{moved.Reason};
        // Then what the tree no longer has leaves current/ for the version folder too, and its
        // empty folders are made there.
        MustSend(Command("sync", {"--create-empty-src-dirs", sBackup}, {sTree, at.Current}), sent);
        LogSent(sent);
        Check(sTree, at, kind);
        libLog::LogEventLevel(1, "  Off-site copy '" + at.Current + "'");
        Purge(job, at, versions, dWhen);
    } catch (const Failed& f) {
        libLog::LogEvent("  Off-site copy to '" + sRemote + "' failed: " + f.Reason);
        return false;
    }
    return true;
}

} // namespace Offsite
