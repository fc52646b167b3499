#include "engine/LookAhead.h"

#include "support/libFiles.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace libCopy::detail {

namespace {

// Folders listed ahead of the walk: far enough that the walk finds each folder listed, near
// enough that its entries are still cached and the listings take little memory.
constexpr size_t kFoldersAhead = 16;
// Entries kept of one folder; the walk looks the rest of a larger folder up itself.
constexpr size_t kEntriesPerFolder = 8192;

// The first component of sPath, taken off it.
std::string_view TakeComponent(std::string_view& sPath) {
    const size_t slash = sPath.find('/');
    const std::string_view component = sPath.substr(0, slash);
    sPath = slash == std::string_view::npos ? std::string_view() : sPath.substr(slash + 1);
    return component;
}

// True when sFolder is sPath or a folder above it.
bool Contains(std::string_view sFolder, std::string_view sPath) {
    if (sFolder.empty()) return true;
    return sPath.starts_with(sFolder) && (sPath.size() == sFolder.size() || sPath[sFolder.size()] == '/');
}

} // namespace

bool EnteredBefore(std::string_view sA, std::string_view sB, SiblingOrder order) {
    while (!sA.empty() && !sB.empty()) {
        const std::string_view a = TakeComponent(sA);
        const std::string_view b = TakeComponent(sB);
        if (a != b) return order == SiblingOrder::GreaterFirst ? a > b : a < b;
    }
    return sA.empty() && !sB.empty(); // a folder comes before what is below it
}

std::optional<int64_t> LookAhead::Listing::ModifiedNs(std::string_view sName) const {
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), sName,
                                     [](const Entry& e, std::string_view name) { return e.Name < name; });
    if (it == m_entries.end() || it->Name != sName) return std::nullopt;
    return it->ModifiedNs;
}

LookAhead::LookAhead(std::string sRoot, bool bRecurse, unsigned iThreads, SiblingOrder order, bool bKeepEntries)
    : m_sRoot(std::move(sRoot)), m_bRecurse(bRecurse), m_order(order), m_bKeepEntries(bKeepEntries),
      m_pending(WalkOrder{order}), m_ready(WalkOrder{order}) {
    m_pending.insert(std::string());
    m_workers.StartUpTo(std::max(1U, iThreads), [this](const std::stop_token& stop) { Work(stop); });
}

unsigned LookAhead::DefaultThreads() { return std::clamp(std::thread::hardware_concurrency(), 2U, 4U) - 1; }

std::optional<LookAhead::Listing> LookAhead::Enter(const std::string& sRelative) {
    m_workers.RethrowFailure();
    if (m_workers.Count() == 0) {
        // No thread to list ahead: the folder is listed now, as a thread would have.
        std::vector<std::string> subfolders;
        return List(sRelative, true, subfolders, m_workers.Token());
    }
    std::unique_lock lock(m_mutex);
    m_sWalkAt = sRelative;
    m_bWalkStarted = true;
    std::optional<Listing> listing;
    for (;;) {
        bool bTaken = false;
        // Folders the walk has passed without entering (not in the source, or left out).
        while (!m_ready.empty() && Before(m_ready.begin()->first, sRelative)) {
            m_ready.erase(m_ready.begin());
            bTaken = true;
        }
        const bool bListed = !m_ready.empty() && m_ready.begin()->first == sRelative;
        if (bListed) {
            listing = std::move(m_ready.begin()->second);
            m_ready.erase(m_ready.begin());
            bTaken = true;
        }
        if (bTaken) m_wake.notify_all();
        // Only the first folder is waited for. Any other the look-ahead has not listed yet the
        // walk looks up itself while the look-ahead goes on to the folders after it: with the
        // copy's entries not cached, both then build them side by side.
        const bool bComing = sRelative.empty() && (m_listing.contains(sRelative) || m_pending.contains(sRelative));
        if (bListed || !bComing) break;
        m_bWalkWaits = true;
        const bool bListedOrGone = m_listed.wait(lock, m_workers.Token(), [&] {
            return m_ready.contains(sRelative) || !(m_listing.contains(sRelative) || m_pending.contains(sRelative));
        });
        m_bWalkWaits = false;
        if (!bListedOrGone) {
            lock.unlock();
            m_workers.ThrowStopped(); // a thread failed: the walk gets its exception
        }
    }
    return listing;
}

void LookAhead::Work(const std::stop_token& stop) {
    // The folders are taken first in walk order (a folder, then its subfolders, the last name in
    // byte order first); a folder found before one already listed is taken however many are.
    std::vector<std::string> subfolders;
    for (;;) {
        std::string folder;
        bool bPassed = false;
        {
            std::unique_lock lock(m_mutex);
            const bool bWoken = m_wake.wait(lock, stop, [this] {
                return (m_pending.empty() && m_listing.empty()) ||
                       (!m_pending.empty() &&
                        (m_ready.size() < kFoldersAhead || Before(*m_pending.begin(), m_ready.rbegin()->first)));
            });
            if (!bWoken || m_pending.empty()) break;
            folder = std::move(m_pending.extract(m_pending.begin()).value());
            // What the walk has reached already is not listed in vain: a folder it has passed
            // with all below it is passed over, and only the subfolders are read of the one it
            // is in and of those above it.
            bPassed = m_bWalkStarted && ((folder == m_sWalkAt && !m_bWalkWaits) || Before(folder, m_sWalkAt));
            if (bPassed && !Contains(folder, m_sWalkAt)) {
                lock.unlock();
                m_wake.notify_all();
                continue;
            }
            m_listing.insert(folder);
        }
        subfolders.clear();
        std::optional<Listing> listing;
        try {
            listing = List(folder, !bPassed, subfolders, stop);
        } catch (const std::exception&) {
            subfolders.clear(); // out of memory: the walk looks this folder up itself
        }
        {
            std::lock_guard lock(m_mutex);
            m_listing.erase(folder);
            for (const auto& sub : subfolders)
                m_pending.insert(folder.empty() ? sub : folder + "/" + sub);
            if (listing) m_ready.emplace(folder, std::move(*listing));
        }
        m_listed.notify_all();
        m_wake.notify_all();
    }
    m_listed.notify_all();
    m_wake.notify_all();
}

std::optional<LookAhead::Listing> LookAhead::List(const std::string& sRelative, bool bListing,
                                                  std::vector<std::string>& subfolders,
                                                  const std::stop_token& stop) const {
    const std::string root = m_sRoot.empty() ? std::string("/") : m_sRoot;
    const std::string path = sRelative.empty() ? root : (m_sRoot + "/" + sRelative);
    // A folder below the root that became a link is not listed: the walk never follows one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (sRelative.empty() ? 0 : O_NOFOLLOW));
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    Listing listing;
    while (const dirent* ent = stop.stop_requested() ? nullptr : ::readdir(dir)) {
        const std::string_view name = ent->d_name;
        if (name == "." || name == "..") continue;
        if (!bListing && ent->d_type != DT_UNKNOWN) {
            if (ent->d_type == DT_DIR && m_bRecurse) subfolders.emplace_back(name);
            continue;
        }
        // Every entry is looked up, also past the ones kept, so that the walk finds it cached.
        struct stat st {};
        if (::fstatat(fd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode) && m_bRecurse) subfolders.emplace_back(name);
        if (m_bKeepEntries && listing.m_entries.size() < kEntriesPerFolder)
            listing.m_entries.push_back({std::string(name), libFiles::TimeNs(st.st_mtim)});
    }
    ::closedir(dir);
    if (!bListing) return std::nullopt;
    std::sort(listing.m_entries.begin(), listing.m_entries.end(),
              [](const Listing::Entry& a, const Listing::Entry& b) { return a.Name < b.Name; });
    return listing;
}

} // namespace libCopy::detail
