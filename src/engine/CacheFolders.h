#pragma once
// What a walk leaves out when the job says caches are not worth keeping (ExcludeCaches):
//   - a folder holding a CACHEDIR.TAG that begins with the Cache Directory Tagging signature
//     (a regular file of its own: a link or anything else named so is not trusted);
//   - a folder holding a regular file named .nobackup (empty or not; a link is not trusted);
//   - the user's cache ($XDG_CACHE_HOME, else ~/.cache), the desktop Trash ($XDG_DATA_HOME/Trash,
//     else ~/.local/share/Trash) and the thumbnail caches (~/.thumbnails, <cache>/thumbnails),
//     recognised by device and inode, so that a folder reached through another name is too;
//   - the Trash folders at the top of a mounted file system: .Trash-<uid> and .Trash/<uid>.
// When in doubt the folder is backed up. Only folders met inside a walk are asked about: a
// source entry that is one of them was named by the user and is backed up whole.
//
// One object per run: the home folders are looked up once, when it is made; each folder then
// costs two look-ups (the tag and the marker), relative to its parent when the walk has it open.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

class CacheFolders {
public:
    enum class Reason : uint8_t { None, CacheTag, NoBackup, Cache, Trash, Thumbnails };

    // bName: LeftOut names each folder it leaves out in the log (Detailed) and counts it, once
    // per folder; otherwise it only answers (a verification asks what the run left out).
    explicit CacheFolders(bool bName);

    // Why the folder is left out (None: it is walked). iAt and sName as openat takes them: the
    // parent folder open and the folder's name, or AT_FDCWD and its path; sPath its full path
    // (its parent's name tells a volume's .Trash/<uid>); st its status, links not followed.
    Reason Why(int iAt, const std::string& sName, const std::string& sPath, const struct stat& st) const;

    // Why, and when left out, named and counted as the object was made to. beforeLine runs
    // before the line is written (a walk with copies under way settles them first, so its log
    // stays in walk order).
    bool LeftOut(int iAt, const std::string& sName, const std::string& sPath, const struct stat& st,
                 const std::function<void()>& beforeLine = {});
    // Names and counts a folder Why left out for reason (the folder st_dev, st_ino, sPath), as
    // LeftOut does: for a walk that asks Why on a thread of its own and names on the run's.
    void Name(Reason reason, dev_t device, ino_t inode, const std::string& sPath,
              const std::function<void()>& beforeLine = {});

    // Folders named so far.
    int32_t Count() const { return m_lCount; }

    // The Detailed line that names a folder left out, and the run's count line.
    static std::string Line(Reason reason, const std::string& sPath);
    static std::string CountLine(int32_t lCount);

    // The rules of the backup run in progress, made by the run's scope when its job leaves
    // caches out; null otherwise. Every walk of the run asks them, whatever style it copies in.
    static CacheFolders* OfRun();
    class RunScope {
    public:
        explicit RunScope(bool bExcludeCaches);
        ~RunScope();
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;

    private:
        std::unique_ptr<CacheFolders> m_rules;
        CacheFolders* m_pPrevious;
    };

    // For a walk that has the path only: looks the folder up and asks the run's rules (false
    // when there are none, or the folder cannot be looked up).
    static bool LeftOutInRun(const std::string& sPath, const std::function<void()>& beforeLine = {});
    // The run's count line (level 1), when it left something out.
    static void LogRunCount();

private:
    using Id = std::pair<dev_t, ino_t>;
    bool MarkedInside(int iAt, const std::string& sName, Reason& reason) const;
    bool VolumeTrash(int iAt, const std::string& sName, const std::string& sPath) const;
    void AddHomeFolder(const std::string& sPath, Reason reason);

    bool m_bName;
    std::vector<std::pair<Id, Reason>> m_homeFolders;
    std::string m_sTrashName; // ".Trash-<uid>"
    std::string m_sUid;       // "<uid>", the name of a user's folder in a volume's .Trash
    std::set<Id> m_named;
    int32_t m_lCount = 0;
};
