#pragma once
// The pieces of the verification behind libVerify.h. Not for other callers.

#include "engine/CacheFolders.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

class CBackupJob;
class CFileFinder;

namespace libVerify::detail {

// Walks a copy job's sources as its copy step selects them (sources, wildcards, exclusions,
// subfolders, copy style) and holds each selected file to its copy: present, same kind, same
// bytes, same modification time. Sources changed at or after lSourcesBeforeNs, or after their
// copy was made, cannot be judged and are skipped.
class CopyCheck {
public:
    // sCopyRoot: the folder holding the copy ("": the job's target).
    CopyCheck(const CBackupJob& job, int64_t lSourcesBeforeNs, std::string sCopyRoot = "");
    // Every problem found, "<path>: <why>"; empty when the copy holds what it should.
    std::vector<std::string> Run();

private:
    void WalkRoot(const std::string& sFolder, const std::string& sPattern, const std::string& sDest, bool bRecurse);
    void CheckFile(const std::string& sSource, const std::string& sCopy, const CFileFinder& finder);
    bool SameBytes(const std::string& sCopy, const std::string& sSource, std::string& sWhy);
    bool ChangedSince(const struct stat& st) const;
    bool Excluded(const std::string& sName) const;
    void Problem(const std::string& sText);

    const CBackupJob& m_job;
    const std::string m_sCopyRoot;
    int64_t m_lBeforeNs;
    std::vector<std::string> m_exclusions;
    std::vector<char> m_bufA, m_bufB; // read buffers, one pair for the whole check
    struct stat m_destId {};          // the copy tree being checked
    std::vector<std::string> m_problems;
    std::optional<CacheFolders> m_caches;     // what the runs leave out, when the job says so
    static constexpr size_t MaxListed = 1000; // a tree gone wrong whole is not listed file by file
    int64_t m_lUnlisted = 0;
};

} // namespace libVerify::detail
