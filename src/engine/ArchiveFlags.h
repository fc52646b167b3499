#pragma once
// The archive attribute of source files, kept outside them: an SQLite database "ArchiveFlags.db"
// in the application folder holds, per file path, the size, modification time, change time and
// inode number seen when the flag was last cleared. A file's flag is set when it has no row or any
// of the four differs from the file now; clearing it writes the row. Source files are never
// touched.
//
// Speed: rows are read one folder at a time (one query per folder, then memory look-ups; the rows
// of the folder read last are kept until another folder is asked for or a walk begins), and
// the writes of a walk go through one prepared statement inside one transaction (BeginWalk ..
// EndWalk). Outside a walk every Clear commits by itself. Errors of the database raise StowError.

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

class ArchiveFlags {
public:
    // The store of the current application folder (opened on first use; reopened when the
    // application folder has changed since).
    static ArchiveFlags& Instance();

    // True when the archive attribute of the file at sPath (whose status is st) is set.
    bool IsArchiveSet(const std::string& sPath, const struct stat& st);
    // Clears the archive attribute: records st as the file's state now.
    void Clear(const std::string& sPath, const struct stat& st);
    // Sets it again (drops the row).
    void Set(const std::string& sPath);

    // Names with a row in sFolder (with its final "/") that IsArchiveSet and Clear have not met
    // since the folder's rows were read (a walk reads them afresh).
    std::vector<std::string> UnseenNames(const std::string& sFolder);
    // Folders strictly below sFolder (with its final "/") that hold rows.
    std::vector<std::string> StoredFoldersBelow(const std::string& sFolder);
    // Drops every row of sFolder (with its final "/").
    void ForgetFolder(const std::string& sFolder);

    // One transaction around a walk's writes. Nested calls count; the outermost EndWalk commits.
    void BeginWalk();
    void EndWalk();
    // A tentative part of the open walk's transaction (one at a time): its writes are kept by
    // EndTentative(true) and undone by EndTentative(false). Like every write of the walk they reach
    // the file only when the outermost EndWalk commits, so a process killed before then leaves
    // the flags as they were.
    void BeginTentative();
    void EndTentative(bool bKeep);

    // Closes the database (it is reopened on next use). Commits a pending walk, less its tentative
    // part.
    static void Close();
    // The database file in use (AppFolder() + "ArchiveFlags.db").
    static std::string DatabaseFileName();

    ~ArchiveFlags();
    ArchiveFlags(const ArchiveFlags&) = delete;
    ArchiveFlags& operator=(const ArchiveFlags&) = delete;

private:
    explicit ArchiveFlags(const std::string& sDbPath);
    void Setup(); // pragmas, table and statements of an open database
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// What a walk met, so that once it is known to have completed, the rows of the files it would
// have met and did not (deleted or renamed since) go in its own transaction. Rows of other
// folders, of names the walk's pattern does not select and of folders the walk did not enter but
// which still exist are kept: they may belong to another job.
class FlagPruning {
public:
    // sRoot: the walk's first folder; sPattern: the name pattern it selects files with.
    FlagPruning(std::string sRoot, std::string sPattern, bool bRecurse);
    // The walk has handled every file of sFolder: rows it did not meet whose files are gone are
    // noted.
    void FolderListed(ArchiveFlags& flags, const std::string& sFolder);
    // The walk completed: removes the rows of what it did not meet.
    void Apply(ArchiveFlags& flags);

private:
    std::string m_sRoot;
    std::string m_sPattern;
    bool m_bRecurse;
    bool m_bWildcard;
    std::unordered_set<std::string> m_visited;
    std::vector<std::string> m_gone; // paths of rows whose files were not met
};
