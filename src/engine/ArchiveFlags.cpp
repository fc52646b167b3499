#include "engine/ArchiveFlags.h"

#include "engine/RunState.h"

#include "support/StowError.h"
#include "support/appMisc.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#include <unordered_map>

namespace {

struct Row {
    int64_t Size = 0;
    int64_t MTimeNs = 0;
    int64_t CTimeNs = 0;
    int64_t Inode = 0;
    bool Seen = false; // looked up or written since its folder was read
};

Row RowFromStat(const struct stat& st) {
    Row row;
    row.Size = static_cast<int64_t>(st.st_size);
    row.MTimeNs = libFiles::TimeNs(st.st_mtim);
    row.CTimeNs = libFiles::TimeNs(st.st_ctim);
    row.Inode = static_cast<int64_t>(st.st_ino);
    return row;
}

bool operator==(const Row& a, const Row& b) {
    return a.Size == b.Size && a.MTimeNs == b.MTimeNs && a.CTimeNs == b.CTimeNs && a.Inode == b.Inode;
}

// Rows are keyed by folder (with its final "/") and name, so one query reads a whole folder.
void SplitPath(const std::string& sPath, std::string& sFolder, std::string& sName) {
    const auto slash = sPath.rfind('/');
    if (slash == std::string::npos) {
        sFolder.clear();
        sName = sPath;
    } else {
        sFolder.assign(sPath, 0, slash + 1);
        sName.assign(sPath, slash + 1, std::string::npos);
    }
}

// The store and its file live with the engine's other process-wide state.
std::unique_ptr<ArchiveFlags>& TheInstance() { return RunState::ArchiveFlagStore().Store; }
std::string& TheInstancePath() { return RunState::ArchiveFlagStore().Path; }

// Puts a store that cannot be opened out of the way, replacing an older one put aside, so that
// a fresh one can take its place. Returns false when it could not be moved.
bool MoveAside(const std::string& sDbPath) {
    const std::string sAside = sDbPath + ".damaged";
    uint64_t lBytes = 0;
    if (libFiles::DirExists(sAside) ? !libFiles::RemoveTree(sAside, lBytes)
                                    : ::unlink(sAside.c_str()) != 0 && errno != ENOENT)
        return false;
    ::unlink((sAside + "-wal").c_str());
    // The write-ahead log belongs to the damaged store; it must not be replayed into the new one.
    ::rename((sDbPath + "-wal").c_str(), (sAside + "-wal").c_str());
    ::unlink((sDbPath + "-shm").c_str());
    return ::rename(sDbPath.c_str(), sAside.c_str()) == 0 || errno == ENOENT;
}

// The store names every file backed up: it is made 0600 before SQLite opens it, since SQLite
// makes its journal, write-ahead log and shared-memory files with the main file's mode. Files an
// older version left readable by others are made private first. A failure is SQLite's to report.
void MakePrivateStore(const std::string& sDbPath) {
    const int fd = ::open(sDbPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) ::close(fd);
    for (const char* sSuffix : {"", "-wal", "-shm", "-journal"})
        libFiles::MakePrivate(sDbPath + sSuffix);
}

} // namespace

struct ArchiveFlags::Impl {
    sqlite3* Db = nullptr;
    sqlite3_stmt* SelectFolder = nullptr;
    sqlite3_stmt* Upsert = nullptr;
    sqlite3_stmt* Delete = nullptr;
    sqlite3_stmt* FoldersBelow = nullptr;
    sqlite3_stmt* DeleteFolder = nullptr;
    int WalkDepth = 0;
    bool Tentative = false; // a SAVEPOINT is open inside the walk's transaction
    bool CacheValid = false;
    size_t SeenCount = 0; // rows of the cached folder that are Seen
    std::string CachedFolder;
    std::unordered_map<std::string, Row> Cache;
    std::string Folder, Name; // reused buffers

    [[noreturn]] void Fail(const std::string& sWhat) const {
        const std::string msg = sWhat + ": " + (Db != nullptr ? sqlite3_errmsg(Db) : "cannot open database");
        throw StowError(StowErrors::PathFileAccess, msg, 0, "ArchiveFlags");
    }

    void Exec(const char* sSql) {
        if (sqlite3_exec(Db, sSql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sSql);
    }

    // Lets go of the statements and the database (each may be null).
    void Close() {
        for (sqlite3_stmt* stmt : {SelectFolder, Upsert, Delete, FoldersBelow, DeleteFolder})
            sqlite3_finalize(stmt);
        SelectFolder = Upsert = Delete = FoldersBelow = DeleteFolder = nullptr;
        sqlite3_close(Db);
        Db = nullptr;
    }

    sqlite3_stmt* Prepare(const char* sSql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(Db, sSql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) Fail(sSql);
        return stmt;
    }

    void BindText(sqlite3_stmt* stmt, int i, const std::string& s) {
        sqlite3_bind_text(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
    }

    void LoadFolder(const std::string& sFolder) {
        if (CacheValid && CachedFolder == sFolder) return;
        Cache.clear();
        SeenCount = 0;
        sqlite3_reset(SelectFolder);
        BindText(SelectFolder, 1, sFolder);
        int rc;
        while ((rc = sqlite3_step(SelectFolder)) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(SelectFolder, 0));
            const int len = sqlite3_column_bytes(SelectFolder, 0);
            Row row;
            row.Size = sqlite3_column_int64(SelectFolder, 1);
            row.MTimeNs = sqlite3_column_int64(SelectFolder, 2);
            row.CTimeNs = sqlite3_column_int64(SelectFolder, 3);
            row.Inode = sqlite3_column_int64(SelectFolder, 4);
            Cache.emplace(std::string(text != nullptr ? text : "", static_cast<size_t>(len)), row);
        }
        sqlite3_reset(SelectFolder);
        if (rc != SQLITE_DONE) {
            CacheValid = false;
            Fail("reading archive flags");
        }
        CachedFolder = sFolder;
        CacheValid = true;
    }
};

ArchiveFlags::ArchiveFlags(const std::string& sDbPath) : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    MakePrivateStore(sDbPath);
    if (sqlite3_open_v2(sDbPath.c_str(), &d.Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string msg = "cannot open " + sDbPath + ": " + (d.Db ? sqlite3_errmsg(d.Db) : "");
        sqlite3_close(d.Db);
        d.Db = nullptr;
        throw StowError(StowErrors::PathFileAccess, msg, 0, "ArchiveFlags");
    }
    try {
        Setup();
    } catch (...) {
        // A store that cannot be set up is closed again, so that its file can be put aside.
        d.Close();
        throw;
    }
}

void ArchiveFlags::Setup() {
    Impl& d = *m_impl;
    sqlite3_busy_timeout(d.Db, 5000);
    // The store can always be rebuilt by copying again: a crash may lose the last walk's rows,
    // which only means those files count as changed. So a commit never waits for the disk: in
    // write-ahead mode with normal sync it writes without fsync, which after a copy of many files
    // would otherwise wait for all of their data to reach the disk as well.
    d.Exec("PRAGMA journal_mode=WAL");
    d.Exec("PRAGMA synchronous=NORMAL");
    sqlite3_db_config(d.Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    d.Exec("CREATE TABLE IF NOT EXISTS flags(folder TEXT NOT NULL, name TEXT NOT NULL, size INTEGER NOT NULL,"
           " mtime INTEGER NOT NULL, ctime INTEGER NOT NULL, inode INTEGER NOT NULL,"
           " PRIMARY KEY(folder, name)) WITHOUT ROWID");
    d.SelectFolder = d.Prepare("SELECT name, size, mtime, ctime, inode FROM flags WHERE folder = ?1");
    d.Upsert = d.Prepare("INSERT OR REPLACE INTO flags(folder, name, size, mtime, ctime, inode)"
                         " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    d.Delete = d.Prepare("DELETE FROM flags WHERE folder = ?1 AND name = ?2");
    // The next folder after ?1 below the folder: one seek on the key per folder, where reading
    // every row below it would cost as much as a tenth of a no-change walk.
    d.FoldersBelow = d.Prepare("SELECT folder FROM flags WHERE folder > ?1 AND folder < ?2 ORDER BY folder LIMIT 1");
    d.DeleteFolder = d.Prepare("DELETE FROM flags WHERE folder = ?1");
}

ArchiveFlags::~ArchiveFlags() {
    Impl& d = *m_impl;
    if (d.WalkDepth > 0) {
        if (d.Tentative) sqlite3_exec(d.Db, "ROLLBACK TO tentative", nullptr, nullptr, nullptr);
        sqlite3_exec(d.Db, "COMMIT", nullptr, nullptr, nullptr);
    }
    d.Close();
}

std::string ArchiveFlags::DatabaseFileName() { return appMisc::AppFolder() + "ArchiveFlags.db"; }

ArchiveFlags& ArchiveFlags::Instance() {
    auto& instance = TheInstance();
    // During a walk the folder cannot change; skip the look-up of the application folder.
    if (instance && instance->m_impl->WalkDepth > 0) return *instance;
    const std::string path = DatabaseFileName();
    if (!instance || TheInstancePath() != path) {
        instance.reset();
        // The store only saves copying: a damaged or unreadable one is put aside and a fresh one
        // started, which means the files are copied again, never that a run stops.
        try {
            instance.reset(new ArchiveFlags(path));
        } catch (const StowError& e) {
            if (MoveAside(path)) {
                libLog::LogEvent("Archive flag store '" + path + "' could not be read (" + e.Description +
                                 "); moved aside as 'ArchiveFlags.db.damaged', a fresh store started");
                try {
                    instance.reset(new ArchiveFlags(path));
                } catch (const StowError&) {
                }
            }
            if (!instance) {
                libLog::LogEvent("Archive flag store '" + path + "' cannot be used (" + e.Description +
                                 "); this session keeps archive flags in memory only");
                instance.reset(new ArchiveFlags(":memory:"));
            }
        }
        TheInstancePath() = path;
    }
    return *instance;
}

void ArchiveFlags::Close() {
    TheInstance().reset();
    TheInstancePath().clear();
}

bool ArchiveFlags::IsArchiveSet(const std::string& sPath, const struct stat& st) {
    Impl& d = *m_impl;
    SplitPath(sPath, d.Folder, d.Name);
    d.LoadFolder(d.Folder);
    const auto it = d.Cache.find(d.Name);
    if (it == d.Cache.end()) return true;
    if (!it->second.Seen) {
        it->second.Seen = true;
        ++d.SeenCount;
    }
    return !(it->second == RowFromStat(st));
}

void ArchiveFlags::Clear(const std::string& sPath, const struct stat& st) {
    Impl& d = *m_impl;
    SplitPath(sPath, d.Folder, d.Name);
    const Row row = RowFromStat(st);
    sqlite3_reset(d.Upsert);
    d.BindText(d.Upsert, 1, d.Folder);
    d.BindText(d.Upsert, 2, d.Name);
    sqlite3_bind_int64(d.Upsert, 3, row.Size);
    sqlite3_bind_int64(d.Upsert, 4, row.MTimeNs);
    sqlite3_bind_int64(d.Upsert, 5, row.CTimeNs);
    sqlite3_bind_int64(d.Upsert, 6, row.Inode);
    const int rc = sqlite3_step(d.Upsert);
    sqlite3_reset(d.Upsert);
    if (rc != SQLITE_DONE) d.Fail("writing archive flag");
    if (d.CacheValid && d.CachedFolder == d.Folder) {
        Row& cached = d.Cache[d.Name];
        if (!cached.Seen) ++d.SeenCount;
        cached = row;
        cached.Seen = true;
    }
}

void ArchiveFlags::Set(const std::string& sPath) {
    Impl& d = *m_impl;
    SplitPath(sPath, d.Folder, d.Name);
    sqlite3_reset(d.Delete);
    d.BindText(d.Delete, 1, d.Folder);
    d.BindText(d.Delete, 2, d.Name);
    const int rc = sqlite3_step(d.Delete);
    sqlite3_reset(d.Delete);
    if (rc != SQLITE_DONE) d.Fail("writing archive flag");
    if (d.CacheValid && d.CachedFolder == d.Folder) {
        const auto it = d.Cache.find(d.Name);
        if (it != d.Cache.end() && it->second.Seen) --d.SeenCount;
        if (it != d.Cache.end()) d.Cache.erase(it);
    }
}

void ArchiveFlags::BeginWalk() {
    Impl& d = *m_impl;
    if (d.WalkDepth++ == 0) {
        d.CacheValid = false; // a walk reads what is stored when it starts
        try {
            d.Exec("BEGIN IMMEDIATE");
        } catch (...) {
            d.WalkDepth = 0;
            throw;
        }
    }
}

void ArchiveFlags::EndWalk() {
    Impl& d = *m_impl;
    if (d.WalkDepth == 0) return;
    if (--d.WalkDepth == 0) {
        // SQLite may have rolled the whole transaction back itself (a full disk, say).
        if (sqlite3_get_autocommit(d.Db) == 0) d.Exec("COMMIT");
    }
}

void ArchiveFlags::BeginTentative() {
    Impl& d = *m_impl;
    if (d.WalkDepth == 0 || d.Tentative)
        throw StowError(StowErrors::PathFileAccess, "tentative archive flags outside a walk", 0, "ArchiveFlags");
    d.Exec("SAVEPOINT tentative");
    d.Tentative = true;
}

void ArchiveFlags::EndTentative(bool bKeep) {
    Impl& d = *m_impl;
    if (!d.Tentative) return;
    d.Tentative = false;
    if (bKeep) {
        d.Exec("RELEASE tentative");
        return;
    }
    d.CacheValid = false; // it may hold rows that are undone now
    if (sqlite3_exec(d.Db, "ROLLBACK TO tentative", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(d.Db, "RELEASE tentative", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // Never commit what was to be undone: the whole walk goes, which only means more copying.
        sqlite3_exec(d.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        d.Fail("undoing archive flags");
    }
}

std::vector<std::string> ArchiveFlags::UnseenNames(const std::string& sFolder) {
    Impl& d = *m_impl;
    d.LoadFolder(sFolder);
    std::vector<std::string> names;
    if (d.SeenCount == d.Cache.size()) return names; // the usual case: every row was met
    for (const auto& [name, row] : d.Cache)
        if (!row.Seen) names.push_back(name);
    return names;
}

std::vector<std::string> ArchiveFlags::StoredFoldersBelow(const std::string& sFolder) {
    Impl& d = *m_impl;
    std::vector<std::string> folders;
    if (sFolder.empty() || sFolder.back() != '/') return folders;
    // Every folder below sFolder starts with it, and so sorts before the text in which its final
    // "/" becomes the next character, "0".
    std::string upper = sFolder;
    upper.back() = '0';
    std::string after = sFolder;
    for (;;) {
        sqlite3_reset(d.FoldersBelow);
        d.BindText(d.FoldersBelow, 1, after);
        d.BindText(d.FoldersBelow, 2, upper);
        const int rc = sqlite3_step(d.FoldersBelow);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) {
            sqlite3_reset(d.FoldersBelow);
            d.Fail("reading archive flags");
        }
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(d.FoldersBelow, 0));
        after.assign(text != nullptr ? text : "", static_cast<size_t>(sqlite3_column_bytes(d.FoldersBelow, 0)));
        folders.push_back(after);
    }
    sqlite3_reset(d.FoldersBelow);
    return folders;
}

void ArchiveFlags::ForgetFolder(const std::string& sFolder) {
    Impl& d = *m_impl;
    sqlite3_reset(d.DeleteFolder);
    d.BindText(d.DeleteFolder, 1, sFolder);
    const int rc = sqlite3_step(d.DeleteFolder);
    sqlite3_reset(d.DeleteFolder);
    if (rc != SQLITE_DONE) d.Fail("writing archive flag");
    if (d.CacheValid && d.CachedFolder == sFolder) {
        d.Cache.clear();
        d.SeenCount = 0;
    }
}

FlagPruning::FlagPruning(std::string sRoot, std::string sPattern, bool bRecurse)
    : m_sRoot(libFiles::AddTrailingSlash(sRoot)), m_sPattern(std::move(sPattern)), m_bRecurse(bRecurse),
      m_bWildcard(libStrings::HasWildcards(m_sPattern)) {}

void FlagPruning::FolderListed(ArchiveFlags& flags, const std::string& sFolder) {
    m_visited.insert(sFolder);
    for (const std::string& name : flags.UnseenNames(sFolder)) {
        // A plain name is looked up as it stands; a pattern is matched as the listing matched it.
        if (m_bWildcard ? !libStrings::WildcardMatch(name, m_sPattern) : name != m_sPattern) continue;
        // Not met, but still there (excluded, say): kept.
        struct stat st {};
        const std::string path = sFolder + name;
        if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) m_gone.push_back(path);
    }
}

void FlagPruning::Apply(ArchiveFlags& flags) {
    for (const std::string& path : m_gone)
        flags.Set(path);
    m_gone.clear();
    if (!m_bRecurse) return;
    // Folders not entered: gone (deleted, renamed) or, when they still stand, left alone.
    for (const std::string& folder : flags.StoredFoldersBelow(m_sRoot)) {
        if (m_visited.count(folder) != 0 || libFiles::DirExists(folder)) continue;
        flags.ForgetFolder(folder);
    }
}
