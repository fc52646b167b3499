#pragma once
// An advisory lock on a whole file (flock), held through an open descriptor of the file. The
// system lets go of it when the descriptor closes, also when its process is killed, so no lock
// outlives its holder. Two descriptors of one file conflict also within one process.

#include <string>

class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    enum class Result { Held, Busy, Unavailable };

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens sPath (created 0600 when missing, never through a symbolic link, not inherited by
    // programs started later), letting go of any file held before. False when it cannot be
    // opened: the caller goes on without the lock.
    bool Open(const std::string& sPath);
    // Takes the lock without waiting. Busy: a holder's lock conflicts with this one.
    // Unavailable: no file is open or the system refuses the lock.
    Result Try(Mode mode);
    // Waits until the lock is taken; false when the system refuses it.
    bool Wait(Mode mode);
    bool Held() const { return m_bHeld; }
    // Unlocks and closes the file.
    void Release();

private:
    int m_fd = -1;
    bool m_bHeld = false;
};
