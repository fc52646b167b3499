// OffsiteProbe: rclone's presence, its remotes and the editor's test of a remote path.

#include "engine/OffsiteProbe.h"

#include "engine/Offsite.h"
#include "engine/Rclone.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unistd.h>

namespace {

// The test file's bytes: small, and recognisable should one ever be left behind.
constexpr char kTestText[] = "Stowline off-site write test. This file may be deleted.\n";

// A local file holding kTestText, removed with the object.
class LocalTestFile {
public:
    LocalTestFile() {
        const char* sTmp = std::getenv("TMPDIR");
        std::string sTemplate = libFiles::AddTrailingSlash(sTmp && *sTmp ? sTmp : "/tmp") + "stowline-test-XXXXXX";
        const int fd = ::mkstemp(sTemplate.data());
        if (fd < 0) {
            Problem = std::string("cannot make a local test file: ") + std::strerror(errno);
            return;
        }
        Path = sTemplate;
        const size_t iSize = sizeof kTestText - 1;
        if (::write(fd, kTestText, iSize) != static_cast<ssize_t>(iSize))
            Problem = std::string("cannot write a local test file: ") + std::strerror(errno);
        ::close(fd);
    }
    ~LocalTestFile() {
        if (!Path.empty()) ::unlink(Path.c_str());
    }
    LocalTestFile(const LocalTestFile&) = delete;
    LocalTestFile& operator=(const LocalTestFile&) = delete;
    std::string Path;
    std::string Problem;
};

// A name no other test or upload uses: ".stowline-test-" and 16 random hexadecimal digits.
std::string TestFileName() {
    std::random_device random;
    const unsigned long long ll = (static_cast<unsigned long long>(random()) << 32) ^ random();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", ll);
    return std::string(".stowline-test-") + buf;
}

// One rclone command of the test. An unreachable server fails within seconds rather than after
// rclone's default retries, so that the user waits for an answer no longer than needed.
Rclone::Result Probe(std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--contimeout", "10s", "--timeout", "20s", "--retries", "1", "--low-level-retries", "1"});
    return Rclone::Run(args);
}

// The size rclone reports for one remote file, -1 when it lists none.
long long RemoteSize(const std::string& sPath, std::string& sReason) {
    const Rclone::Result r = Probe({"lsf", "--files-only", "--format", "s", sPath});
    if (!r.Ok()) {
        sReason = r.Reason;
        return -1;
    }
    // One line, the size: "56\n".
    const std::string sSize = libStrings::Trim(r.Output.substr(0, r.Output.find('\n')));
    if (sSize.empty() || sSize.find_first_not_of("0123456789") != std::string::npos) {
        sReason = "rclone lists no such file";
        return -1;
    }
    return std::atoll(sSize.c_str());
}

// Lists sRemote; when it does not exist yet (bMissing), lists its parent instead. "" or the
// failing step.
std::string ListStep(const std::string& sRemote, bool& bMissing) {
    const Rclone::Result r = Probe({"lsf", "--max-depth", "1", sRemote});
    if (r.Ok()) return "";
    const std::string sParent = OffsiteProbe::ParentOf(sRemote);
    if (r.Status != Rclone::DirectoryNotFound || sParent.empty())
        return "Listing '" + sRemote + "' failed: " + r.Reason;
    const Rclone::Result parent = Probe({"lsf", "--max-depth", "1", "--dirs-only", sParent});
    if (!parent.Ok())
        return "Listing '" + sRemote + "' failed: it does not exist, and listing its parent '" + sParent +
               "' failed: " + parent.Reason;
    bMissing = true;
    return "";
}

// Removes the test file and, when the test made the folder, the folder; "" or what failed.
std::string CleanUp(const std::string& sRemote, const std::string& sObject, bool bMadeFolder, bool bWritten) {
    const Rclone::Result removed = Probe({"deletefile", sObject});
    // After a failed write there is mostly no file to remove, and the write's failure is the news.
    if (bWritten && !removed.Ok()) return "Removing the test file '" + sObject + "' failed: " + removed.Reason;
    if (!bMadeFolder) return "";
    // Where folders are only names of objects (buckets' prefixes) it is gone with the file.
    const Rclone::Result folder = Probe({"rmdir", sRemote});
    if (!folder.Ok() && folder.Status != Rclone::DirectoryNotFound)
        return "Removing the folder '" + sRemote + "' made by the test failed: " + folder.Reason;
    return "";
}

// Reads the test file's size back; "" or the failing step.
std::string SizeStep(const std::string& sObject) {
    std::string sReason;
    const long long lSize = RemoteSize(sObject, sReason);
    const long long lWritten = static_cast<long long>(sizeof kTestText - 1);
    if (lSize < 0) return "Reading the size of the test file '" + sObject + "' back failed: " + sReason;
    if (lSize != lWritten)
        return "Reading the size of the test file '" + sObject + "' back failed: it holds " + std::to_string(lSize) +
               " bytes instead of " + std::to_string(lWritten);
    return "";
}

} // namespace

namespace OffsiteProbe {

bool RcloneInstalled() {
    const char* pPath = std::getenv("PATH");
    if (pPath == nullptr) return false;
    for (const std::string& sFolder : libStrings::Split(pPath, ":")) {
        if (sFolder.empty()) continue;
        const std::string sFile = libFiles::AddTrailingSlash(sFolder) + "rclone";
        if (libFiles::FileExists(sFile) && ::access(sFile.c_str(), X_OK) == 0) return true;
    }
    return false;
}

RemoteList Remotes() {
    RemoteList list;
    const Rclone::Result r = Rclone::Run({"listremotes"});
    if (!r.Ok()) {
        list.Reason = r.Reason;
        return list;
    }
    for (const std::string& sLine : libStrings::Split(r.Output, "\n")) {
        const std::string sName = libStrings::Trim(sLine);
        if (!sName.empty()) list.Names.push_back(sName);
    }
    return list;
}

std::string BandwidthProblem(const std::string& sLimit) {
    if (!RcloneInstalled()) return "";
    // rclone reads its options before the command and refuses a value it cannot parse.
    const Rclone::Result r = Rclone::Run({"--bwlimit=" + sLimit, "version"});
    return r.Ok() ? "" : r.Reason;
}

std::string ParentOf(const std::string& sRemote) {
    // "name:" begins a remote unless a "/" comes before the colon (a local path).
    const size_t iColon = sRemote.find(':');
    const size_t iPrefix = iColon != std::string::npos && sRemote.find('/') > iColon ? iColon + 1 : 0;
    std::string sPath = sRemote.substr(iPrefix);
    while (sPath.size() > 1 && sPath.back() == '/')
        sPath.pop_back();
    if (sPath.empty() || sPath == "/") return "";
    const size_t iSlash = sPath.rfind('/');
    if (iSlash == std::string::npos) return iPrefix > 0 ? sRemote.substr(0, iPrefix) : "";
    return sRemote.substr(0, iPrefix) + (iSlash == 0 ? "/" : sPath.substr(0, iSlash));
}

TestResult Test(const std::string& sInput) {
    TestResult result;
    const std::string sRemote = libStrings::Trim(sInput);
    if (sRemote.empty()) {
        result.Failure = "No remote path is given";
        return result;
    }
    // rclone would read a path beginning with "-" as an option of its own.
    if (sRemote[0] == '-') {
        result.Failure = "'" + sRemote + "' is not an rclone remote path: it begins with '-'";
        return result;
    }
    result.Failure = ListStep(sRemote, result.FolderMissing);
    if (!result.Ok()) return result;

    const LocalTestFile local;
    if (!local.Problem.empty()) {
        result.Failure = "Writing the test file failed: " + local.Problem;
        return result;
    }
    // Written where an upload writes: into the folder, which a missing one is made for.
    const std::string sObject = Offsite::Join(sRemote, TestFileName());
    const Rclone::Result written = Probe({"copyto", local.Path, sObject});
    if (written.Ok())
        result.Failure = SizeStep(sObject);
    else
        result.Failure = "Writing the test file '" + sObject + "' failed: " + written.Reason;
    // Also after a failed write: one that failed half-way may have left an object or the folder.
    const std::string sCleanUp = CleanUp(sRemote, sObject, result.FolderMissing, written.Ok());
    if (!sCleanUp.empty()) result.Failure = result.Ok() ? sCleanUp : result.Failure + "; " + sCleanUp;
    return result;
}

} // namespace OffsiteProbe
