// Offsite::SendArchive: the zip style's off-site step, each remote operation one rclone command;
// and what both styles share (OffsiteInternal).

#include "engine/Offsite.h"

#include "engine/OffsiteInternal.h"
#include "engine/WorkerThreads.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <memory>
#include <set>
#include <unistd.h>
#include <vector>

using namespace OffsiteInternal;

namespace {

// The names of the files in a remote folder (none when the folder does not exist yet).
std::vector<std::string> FilesIn(const std::string& sFolder) {
    Rclone::Result r = Rclone::Run({"lsf", "--files-only", "--", sFolder});
    if (r.Status == Rclone::DirectoryNotFound) return {};
    if (!r.Ok()) throw Failed{r.Reason};
    return Lines(r.Output);
}

// The size and hash of one remote file; hash "" where the remote has none of that kind. False
// when there is no such file.
bool RemoteSizeAndHash(const std::string& sFile, const char* sHash, long long& lSize, std::string& sValue) {
    const Rclone::Result r =
        Rclone::Run({"lsf", "--files-only", "--format", "sh", "--separator", "\t", "--hash", sHash, "--", sFile});
    if (r.Status == Rclone::DirectoryNotFound) return false;
    if (!r.Ok()) throw Failed{r.Reason};
    const std::vector<std::string> lines = Lines(r.Output);
    if (lines.size() != 1 || lines[0].find('\t') == std::string::npos) return false;
    const size_t iTab = lines[0].find('\t');
    lSize = std::atoll(lines[0].substr(0, iTab).c_str());
    sValue = libStrings::Trim(lines[0].substr(iTab + 1));
    return true;
}

// The hash of a local file in lower-case hex, as rclone writes it; "" when stopped first.
std::string LocalHash(const std::string& sFile, const EVP_MD* pKind, const std::stop_token& stop) {
    const int fd = ::open(sFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failed{"cannot read '" + sFile + "': " + std::strerror(errno)};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool bOk = ctx && EVP_DigestInit_ex(ctx.get(), pKind, nullptr) == 1;
    std::vector<unsigned char> buf(1 << 20);
    ssize_t n = 0;
    while (bOk && !stop.stop_requested() && (n = ::read(fd, buf.data(), buf.size())) != 0) {
        if (n < 0 && errno == EINTR) continue;
        bOk = n > 0 && EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n)) == 1;
    }
    const int iErr = errno;
    ::close(fd);
    if (stop.stop_requested()) return "";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int iLen = 0;
    if (!bOk || EVP_DigestFinal_ex(ctx.get(), digest, &iLen) != 1)
        throw Failed{"cannot hash '" + sFile + "': " + (n < 0 ? std::strerror(iErr) : "OpenSSL failed")};
    static const char* const sHex = "0123456789abcdef";
    std::string sOut;
    for (unsigned int i = 0; i < iLen; ++i) {
        sOut += sHex[digest[i] >> 4];
        sOut += sHex[digest[i] & 15];
    }
    return sOut;
}

// The archive's MD5, worked out on a worker thread while the remote works out its own (on the
// calling thread when no thread can be started). Started once the upload is done, so that it
// takes no processor time from the upload.
class LocalMd5 {
public:
    explicit LocalMd5(std::string sFile) : m_sFile(std::move(sFile)), m_result(m_promise.get_future()) {
        m_pool.StartUpTo(1, [this](std::stop_token stop) {
            try {
                m_promise.set_value(LocalHash(m_sFile, EVP_md5(), stop));
            } catch (...) {
                m_promise.set_exception(std::current_exception());
            }
        });
    }
    std::string Get() { return m_pool.Count() == 0 ? LocalHash(m_sFile, EVP_md5(), {}) : m_result.get(); }

private:
    std::string m_sFile;
    std::promise<std::string> m_promise;
    std::future<std::string> m_result;
    WorkerThreads m_pool; // last: stopped and joined first
};

// The uploaded object is the local file: same hash (MD5, else SHA-1) where the remote gives one,
// else the same size. Logs which check held.
void CheckUpload(const std::string& sFile, const std::string& sLocal, LocalMd5& md5) {
    const long long lLocal = static_cast<long long>(libFiles::FileLen(sLocal));
    for (const char* sHash : {"MD5", "SHA-1"}) {
        long long lSize = -1;
        std::string sRemote;
        if (!RemoteSizeAndHash(sFile, sHash, lSize, sRemote)) throw Failed{"uploaded file not found: " + sFile};
        if (lSize != lLocal) throw Failed{"uploaded file has the wrong size: " + sFile};
        if (sRemote.empty()) continue;
        const std::string sMine = sHash[0] == 'M' ? md5.Get() : LocalHash(sLocal, EVP_sha1(), {});
        if (libStrings::LCase(sRemote) != sMine) throw Failed{"uploaded file differs from the archive: " + sFile};
        libLog::LogEventLevel(1, std::string("  Off-site copy checked by ") + sHash);
        return;
    }
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

std::string Stamp(double d) {
    const std::time_t t = libDates::ToTimeT(d);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d_%H%M%S", &tm);
    return buf;
}

bool ParseStamp(const std::string& sText, double& dWhen) {
    if (sText.size() != 17 || sText[4] != '-' || sText[7] != '-' || sText[10] != '_') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 13, 14, 15, 16})
        if (sText[i] < '0' || sText[i] > '9') return false;
    int y, mo, da, h, mi, s;
    if (std::sscanf(sText.c_str(), "%4d-%2d-%2d_%2d%2d%2d", &y, &mo, &da, &h, &mi, &s) != 6) return false;
    char sIso[32];
    std::snprintf(sIso, sizeof sIso, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
    return libDates::ParseDateTime(sIso, dWhen);
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

std::string JobFolder(const std::string& sRemote, const std::string& sJobName) {
    const bool bJoined = !sRemote.empty() && (sRemote.back() == ':' || sRemote.back() == '/');
    return sRemote + (bJoined ? "" : "/") + CBackupJob::CleanJobName(sJobName);
}

std::string DatedName(const std::string& sJobName, double d) {
    return CBackupJob::CleanJobName(sJobName) + "_" + Stamp(d) + ".zip";
}

bool ParseDatedName(const std::string& sName, const std::string& sJobName, double& dWhen) {
    const std::string sClean = CBackupJob::CleanJobName(sJobName);
    // "_YYYY-MM-DD_HHMMSS.zip" is 22 bytes.
    if (sName.size() != sClean.size() + 22 || sName.compare(0, sClean.size(), sClean) != 0) return false;
    if (sName[sClean.size()] != '_' || sName.compare(sName.size() - 4, 4, ".zip") != 0) return false;
    return ParseStamp(sName.substr(sClean.size() + 1, 17), dWhen);
}

bool SendArchive(const CBackupJob& job, const std::string& sArchive, double dWhen, const Rclone::StatsSink& onStats) {
    const std::string& sRemote = job.OffsiteRemote();
    const std::string sFolder = JobFolder(sRemote, job.JobName());
    try {
        RefuseOption(sRemote);
        std::vector<std::string> names = FilesIn(sFolder);
        const std::set<std::string> taken(names.begin(), names.end());
        // An immutable name: never one already there (two runs within a second take the next).
        std::string sName = DatedName(job.JobName(), dWhen);
        for (int i = 1; taken.count(sName) != 0; ++i)
            sName = DatedName(job.JobName(), libDates::AddSeconds(dWhen, i));
        // What an interrupted upload of this job left behind goes first.
        const std::string sPartialPrefix = "." + CBackupJob::CleanJobName(job.JobName()) + "_";
        for (const std::string& s : names)
            if (s.rfind(sPartialPrefix, 0) == 0 && s.size() > 8 && s.compare(s.size() - 8, 8, ".partial") == 0)
                Must({"deletefile", "--", sFolder + "/" + s});
        const std::string sPartial = "." + sName + ".partial";
        Sent sent{{}, onStats};
        // rclone's own check after the upload would hash both sides a second time: the check
        // below is the one that counts, and it logs what it compared.
        MustSend({"copyto", "--ignore-checksum", "--", sArchive, sFolder + "/" + sPartial}, sent);
        LogSent(sent);
        LocalMd5 md5(sArchive);
        CheckUpload(sFolder + "/" + sPartial, sArchive, md5);
        Must({"moveto", "--", sFolder + "/" + sPartial, sFolder + "/" + sName});
        libLog::LogEventLevel(1, "  Off-site copy '" + sFolder + "/" + sName + "'");
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
