#include "engine/FlushBatch.h"

#include "support/StowError.h"
#include "support/libFiles.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace libCopy::detail {

namespace {

// A batch is placed once it holds this many copies or bytes: the temporary folder then never
// holds much more than that beside the earlier copies, and a flush still serves many files.
constexpr size_t kMaxCopies = 4096;
constexpr uint64_t kMaxBytes = uint64_t{128} << 20;

} // namespace

FlushBatch::FlushBatch(TargetFlush& flush, std::string sTempFolder)
    : m_flush(flush), m_sTempFolder(std::move(sTempFolder)) {}

FlushBatch::~FlushBatch() {
    try {
        (void)Flush();
    } catch (...) {
        // Nothing to report from here: the walk has failed already.
    }
}

bool FlushBatch::Add(Copy copy) {
    m_lBytes += static_cast<uint64_t>(copy.Copied.st_size > 0 ? copy.Copied.st_size : 0);
    m_copies.push_back(std::move(copy));
    return m_copies.size() >= kMaxCopies || m_lBytes >= kMaxBytes;
}

int FlushBatch::Flush() { return m_flush.Flush(); }

FlushBatch::Failure FlushBatch::Place(const std::function<void(const Copy&)>& onPlaced) {
    Failure failure;
    if (m_copies.empty()) return failure;
    std::vector<Copy> copies = std::move(m_copies);
    m_copies.clear();
    m_lBytes = 0;
    m_flush.Written(); // the copies themselves
    failure.Error = Flush();
    size_t i = 0;
    for (; failure.Error == 0 && i < copies.size(); ++i) {
        const Copy& copy = copies[i];
        m_flush.Written();
        if (::rename(copy.Staged.c_str(), copy.Dest.c_str()) != 0) {
            if (errno != EXDEV) {
                failure.Error = errno;
                failure.Dest = copy.Dest;
                break;
            }
            // The destination lies on another file system mounted inside the target: copied
            // there, flushed before it replaces the earlier copy.
            try {
                libFiles::CopyFileAtomic(copy.Staged, copy.Dest, m_sTempFolder);
            } catch (const StowError& e) {
                failure.Error = e.Errno != 0 ? e.Errno : EIO;
                failure.Dest = copy.Dest;
                break;
            }
            (void)::unlink(copy.Staged.c_str());
        }
        onPlaced(copy);
    }
    for (; i < copies.size(); ++i)
        failure.Undone.push_back(std::move(copies[i]));
    return failure;
}

} // namespace libCopy::detail
