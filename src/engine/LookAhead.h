#pragma once
// Lists a tree on threads of its own, in the order a walk enters its folders and a few folders
// ahead of it. The copy walk (Update or Freshen) compares each file with its copy without looking
// the copy up itself: the two trees are then read side by side, as by the two processes of a
// one-way sync. The restore's listing of a copy tree finds every entry it looks up already read:
// on a cold disk, several folders are read at once instead of one after the other.

#include "engine/WorkerThreads.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace libCopy::detail {

// Which of two sibling folders a walk enters first: the copy walk the one with the greater name,
// the restore's listing the one with the smaller (names compared byte by byte).
enum class SiblingOrder { GreaterFirst, SmallerFirst };

// True when a walk that enters a folder before its subfolders, and sibling folders in the given
// order, enters the folder at sA before the one at sB. Both are named relative to the walk's
// root ("" is the root itself, "a/b" a folder two levels below it).
bool EnteredBefore(std::string_view sA, std::string_view sB, SiblingOrder order = SiblingOrder::GreaterFirst);

class LookAhead {
public:
    // One destination folder as listed: the modification time of each entry that could be
    // looked up, by name. A name it lacks is not known to be absent (it may have been left out
    // of a very large folder, or its look-up failed): the walk then looks it up itself.
    class Listing {
    public:
        // The entry's modification time in nanoseconds since 1970, when listed.
        std::optional<int64_t> ModifiedNs(std::string_view sName) const;

    private:
        friend class LookAhead;
        struct Entry {
            std::string Name;
            int64_t ModifiedNs = 0;
        };
        std::vector<Entry> m_entries; // sorted by name
    };

    // sRoot: the folder the walk lists; bRecurse: the walk enters subfolders; iThreads: the
    // threads that list folders side by side (at least one). Without any thread (none could be
    // started), Enter lists each folder itself. Without bKeepEntries the folders are read just
    // the same (every entry looked up, so that the walk finds it cached), but their listings
    // hold no entries: for a walk that looks everything up itself.
    LookAhead(std::string sRoot, bool bRecurse, unsigned iThreads = DefaultThreads(),
              SiblingOrder order = SiblingOrder::GreaterFirst, bool bKeepEntries = true);
    // Stops listing at once (the workers' owner is the last member); nothing the walk has
    // taken depends on the threads.
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The walk enters the folder at sRelative (named as for EnteredBefore): its listing when it
    // is listed (the first folder is waited for), else nothing: the destination has no such
    // folder, it could not be listed, or the look-ahead has not reached it yet and goes on after
    // it. Folders must be entered in walk order. Rethrows what a listing thread ended with.
    std::optional<Listing> Enter(const std::string& sRelative);

    // One fewer than the cores, at least one: the walk keeps a core of its own, and a folder
    // whose entries are not cached is listed no faster than the walk would look it up.
    static unsigned DefaultThreads();

private:
    struct WalkOrder {
        SiblingOrder Order;
        bool operator()(const std::string& sA, const std::string& sB) const { return EnteredBefore(sA, sB, Order); }
    };
    bool Before(std::string_view sA, std::string_view sB) const { return EnteredBefore(sA, sB, m_order); }

    void Work(const std::stop_token& stop);
    // Reads one folder: its subfolders' names and, with bListing, its listing (when it could
    // be opened). Stops reading once stop is asked for.
    std::optional<Listing> List(const std::string& sRelative, bool bListing, std::vector<std::string>& subfolders,
                                const std::stop_token& stop) const;

    const std::string m_sRoot;
    const bool m_bRecurse;
    const SiblingOrder m_order;
    const bool m_bKeepEntries;
    std::mutex m_mutex;
    std::condition_variable_any m_listed;              // a folder was listed
    std::condition_variable_any m_wake;                // a folder may be taken
    std::set<std::string, WalkOrder> m_pending;        // found, not yet taken
    std::set<std::string> m_listing;                   // being listed
    std::map<std::string, Listing, WalkOrder> m_ready; // listed ahead of the walk
    std::string m_sWalkAt;                             // the folder the walk entered last
    bool m_bWalkStarted = false;
    bool m_bWalkWaits = false; // for the folder it entered last
    WorkerThreads m_workers;   // last: stopped and joined first
};

} // namespace libCopy::detail
