// Offsite::SendArchive: the zip style's off-site step, each remote operation one rclone command;
// and what both styles share (OffsiteInternal).

#include "engine/Offsite.h"

#include "engine/OffsiteInternal.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <vector>

using namespace OffsiteInternal;

namespace {

// The size of one remote file; false when there is no such file.
bool RemoteSize(const std::string& sFile, long long& lSize) {
    const Rclone::Result r = Rclone::Run({"lsf", "--files-only", "--format", "s", "--", sFile});
    if (r.Status == Rclone::DirectoryNotFound) return false;
    if (!r.Ok()) throw Failed{r.Reason};
    const std::vector<std::string> lines = Lines(r.Output);
    if (lines.size() != 1) return false;
    lSize = std::atoll(lines[0].c_str());
    return true;
}

// The hash rclone compared after uploading the local file sName (its log names the source object
// that way: "md5 = <hex> OK"), from its debug log; "" when it compared none (the two sides share
// no hash).
std::string HashChecked(const std::string& sLog, const std::string& sName) {
    for (const std::string& sLine : Lines(sLog)) {
        const nlohmann::json j = nlohmann::json::parse(sLine, nullptr, false);
        if (!j.is_object() || j.value("object", "") != sName || !j.contains("msg") || !j["msg"].is_string()) continue;
        const std::string sMsg = j["msg"].get<std::string>();
        const size_t iEq = sMsg.find(" = ");
        if (iEq != std::string::npos && iEq > 0 && sMsg.ends_with(" OK") && sMsg.find(' ') == iEq)
            return sMsg.substr(0, iEq);
    }
    return "";
}

// The uploaded object is the local file. rclone compares the hash it took of the file while
// sending it with the remote's own hash of what arrived (and fails the upload when they differ)
// wherever the two sides share one; its log tells which. Else the sizes are compared here.
void CheckUpload(const Rclone::Result& upload, const std::string& sFolder, const std::string& sName,
                 const std::string& sLocal) {
    const std::string sHash = HashChecked(upload.Log, libFiles::FilePathStripPath(sLocal));
    if (!sHash.empty()) {
        libLog::LogEventLevel(1, "  Off-site copy checked by " + HashLabel(sHash));
        return;
    }
    long long lSize = -1;
    if (!RemoteSize(sFolder + "/" + sName, lSize)) throw Failed{"uploaded file not found: " + sName};
    if (lSize != static_cast<long long>(libFiles::FileLen(sLocal)))
        throw Failed{"uploaded file has the wrong size: " + sName};
    libLog::LogEventLevel(1, "  Off-site copy checked by size");
}

// The job's dated archives on the remote that its local retention would no longer keep.
std::vector<std::string> Surplus(const CBackupJob& job, const std::vector<std::string>& names, double dNow) {
    std::vector<std::pair<double, std::string>> dated;
    for (const std::string& sName : names) {
        double dWhen = 0;
        if (Offsite::ParseDatedName(sName, job.JobName(), dWhen)) dated.emplace_back(dWhen, sName);
    }
    std::sort(dated.rbegin(), dated.rend()); // newest first
    std::vector<std::string> surplus;
    if (job.KeepPeriod() == CBackupJob::KeepCopies) {
        // Locally the newest archive and up to NumberCopies older copies.
        const int iOlder = std::min<int>(std::max<int>(job.NumberCopies(), 0), appPreferences::MaxBackupCopies);
        for (size_t i = static_cast<size_t>(iOlder) + 1; i < dated.size(); ++i)
            surplus.push_back(dated[i].second);
        return surplus;
    }
    const double dDay = libDates::DateValue(dNow);
    double dCutoff = dDay - job.NumberCopies();
    if (job.KeepPeriod() == CBackupJob::KeepWeeks) dCutoff = dDay - 7.0 * job.NumberCopies();
    if (job.KeepPeriod() == CBackupJob::KeepMonths)
        dCutoff = libDates::DateValue(libDates::AddMonths(dDay, -job.NumberCopies()));
    for (size_t i = 1; i < dated.size(); ++i) // the newest always stays
        if (libDates::DateValue(dated[i].first) < dCutoff) surplus.push_back(dated[i].second);
    return surplus;
}

} // namespace

namespace OffsiteInternal {

Rclone::Result Must(const std::vector<std::string>& args) {
    Rclone::Result r = Rclone::Run(args);
    if (!r.Ok()) throw Failed{r.Reason};
    return r;
}

Rclone::Result MustSend(const std::vector<std::string>& args, Sent& sent) {
    Rclone::Stats& total = sent.Total;
    Rclone::Result r = Rclone::Transfer(args, [&](const Rclone::Stats& now) {
        if (!sent.OnStats) return;
        Rclone::Stats running = now;
        running.Bytes += total.Bytes;
        running.TotalBytes += total.TotalBytes;
        running.Elapsed += total.Elapsed;
        sent.OnStats(running);
    });
    total.Bytes += r.Moved.Bytes;
    total.TotalBytes += r.Moved.TotalBytes;
    total.Elapsed += r.Moved.Elapsed;
    total.Speed = total.Elapsed > 0 ? static_cast<double>(total.Bytes) / total.Elapsed : 0;
    if (!r.Ok()) throw Failed{r.Reason};
    return r;
}

void LogSent(const Sent& sent) { libLog::LogEventLevel(1, "  Off-site copy sent " + Rclone::Summary(sent.Total)); }

std::vector<std::string> Lines(const std::string& sText) {
    std::vector<std::string> lines = libStrings::Split(sText, "\n");
    std::erase(lines, std::string());
    return lines;
}

void RefuseOption(const std::string& sRemote) {
    // rclone would read a path beginning with "-" as an option of its own.
    if (sRemote.empty() || sRemote[0] == '-') throw Failed{"not an rclone remote path"};
}

RemoteKind KindOf(const std::string& sFolder) {
    const Rclone::Result r = Must({"backend", "features", "--", sFolder});
    RemoteKind kind;
    // rclone describes a crypt remote as "Encrypted drive '<path>'".
    kind.Encrypted = r.Output.find("\"String\": \"Encrypted drive ") != std::string::npos;
    // The "Hashes" list of rclone's JSON answer: quoted names between its brackets.
    const size_t iKey = r.Output.find("\"Hashes\"");
    const size_t iOpen = r.Output.find('[', iKey == std::string::npos ? r.Output.size() : iKey);
    const size_t iClose = r.Output.find(']', iOpen == std::string::npos ? r.Output.size() : iOpen);
    if (iClose == std::string::npos) return kind;
    const std::string sList = r.Output.substr(iOpen, iClose - iOpen);
    // The hashes a local file has, in the order rclone prefers them when both sides have several.
    for (const char* sHash : {"md5", "sha1", "whirlpool", "crc32", "sha256"})
        if (sList.find(std::string("\"") + sHash + "\"") != std::string::npos) {
            kind.Hash = sHash;
            break;
        }
    return kind;
}

std::string HashLabel(const std::string& sHash) {
    if (sHash == "md5") return "MD5";
    if (sHash == "sha1") return "SHA-1";
    if (sHash == "sha256") return "SHA-256";
    if (sHash == "crc32") return "CRC-32";
    if (sHash == "whirlpool") return "Whirlpool";
    return sHash;
}

} // namespace OffsiteInternal

namespace Offsite {

std::string Join(const std::string& sFolder, const std::string& sName) {
    const bool bJoined = !sFolder.empty() && (sFolder.back() == ':' || sFolder.back() == '/');
    return sFolder + (bJoined ? "" : "/") + sName;
}

std::string JobFolder(const std::string& sRemote, const std::string& sJobName) {
    return Join(sRemote, CBackupJob::CleanJobName(sJobName));
}

std::string DatedName(const std::string& sJobName, double d) {
    return CBackupJob::CleanJobName(sJobName) + "_" + libDates::Stamp(d) + ".zip";
}

bool ParseDatedName(const std::string& sName, const std::string& sJobName, double& dWhen) {
    const std::string sClean = CBackupJob::CleanJobName(sJobName);
    // "_YYYY-MM-DD_HHMMSS.zip" is 22 bytes.
    if (sName.size() != sClean.size() + 22 || sName.compare(0, sClean.size(), sClean) != 0) return false;
    if (sName[sClean.size()] != '_' || sName.compare(sName.size() - 4, 4, ".zip") != 0) return false;
    return libDates::ParseStamp(sName.substr(sClean.size() + 1, 17), dWhen);
}

bool SendArchive(const CBackupJob& job, const std::string& sArchive, double dWhen, const Rclone::StatsSink& onStats) {
    const std::string& sRemote = job.OffsiteRemote();
    const std::string sFolder = JobFolder(sRemote, job.JobName());
    try {
        RefuseOption(sRemote);
        // The folder is listed while the archive travels: the final name and what goes after
        // the upload are only chosen once it is there.
        Rclone::Background listing({"lsf", "--files-only", "--", sFolder});
        const std::string sPartial = "." + DatedName(job.JobName(), dWhen) + ".partial";
        Sent sent{{}, onStats};
        const Rclone::Result upload =
            MustSend({"copyto", "--log-level=DEBUG", "--", sArchive, sFolder + "/" + sPartial}, sent);
        LogSent(sent);
        const Rclone::Result listed = listing.Wait();
        if (!listed.Ok() && listed.Status != Rclone::DirectoryNotFound) throw Failed{listed.Reason};
        std::vector<std::string> names = listed.Ok() ? Lines(listed.Output) : std::vector<std::string>{};
        CheckUpload(upload, sFolder, sPartial, sArchive);
        // An immutable name: never one already there (two runs within a second take the next).
        const std::set<std::string> taken(names.begin(), names.end());
        std::string sName = DatedName(job.JobName(), dWhen);
        for (int i = 1; taken.count(sName) != 0; ++i)
            sName = DatedName(job.JobName(), libDates::AddSeconds(dWhen, i));
        Must({"moveto", "--", sFolder + "/" + sPartial, sFolder + "/" + sName});
        libLog::LogEventLevel(1, "  Off-site copy '" + sFolder + "/" + sName + "'");
        // What interrupted uploads of this job left behind goes, and what retention no longer keeps.
        const std::string sPartialPrefix = "." + CBackupJob::CleanJobName(job.JobName()) + "_";
        for (const std::string& s : names)
            if (s != sPartial && s.rfind(sPartialPrefix, 0) == 0 && s.ends_with(".partial"))
                Must({"deletefile", "--", sFolder + "/" + s});
        names.push_back(sName);
        for (const std::string& sOld : Surplus(job, names, dWhen))
            Must({"deletefile", "--", sFolder + "/" + sOld});
    } catch (const Failed& f) {
        libLog::LogEvent("  Off-site copy to '" + sRemote + "' failed: " + f.Reason);
        return false;
    }
    return true;
}

} // namespace Offsite
