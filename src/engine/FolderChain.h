#pragma once
// The open folders of one path below a root folder, entered by descriptor without following
// links. Moving from one path to the next keeps the folders both share open, so a walk in tree
// order costs a few calls per entry at any depth. The descriptors stay bounded: the deepest
// levels are kept open, and one level in every Spacing; an evicted level is opened again from
// the nearest open one above it and must still be the same folder.

#include <string>
#include <sys/types.h>
#include <vector>

class FolderChain {
public:
    // bMake: missing folders are made (mode 0755, less the umask).
    explicit FolderChain(bool bMake) : m_bMake(bMake) {}
    ~FolderChain() { Reset(-1); }
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    // Starts again below another root folder; the chain owns the descriptor (-1: none).
    void Reset(int iRoot);
    int Root() const { return m_iRoot; }

    // The folder of the first n parts below the root (the root for 0); -1 with the reason when
    // a part is no folder (a file or a link), cannot be made, or changed while it was open.
    // FailedAt() then gives the number of parts up to and including the one that failed.
    int Enter(const std::vector<std::string>& parts, size_t n, std::string& sWhy);
    size_t FailedAt() const { return m_uFailedAt; }
    // Whether the folder of the first n parts (n >= 1, entered last) was made by this chain.
    bool Made(size_t n) const { return n >= 1 && n <= m_levels.size() && m_levels[n - 1].Made; }
    // The number of parts of the first folder the last Enter made (0: it made none).
    size_t FirstMade() const { return m_uFirstMade; }
    void SetMake(bool bMake) { m_bMake = bMake; }
    // The device and inode of the folder of the first n parts (entered last).
    void Identity(size_t n, dev_t& dev, ino_t& ino) const;

    static constexpr size_t Window = 48;  // the deepest levels kept open
    static constexpr size_t Spacing = 64; // and one level in every Spacing above them

private:
    struct Level {
        std::string Name;
        int Fd = -1;
        dev_t Dev = 0;
        ino_t Ino = 0;
        bool Made = false;
    };
    bool Kept(size_t i) const { return (i + 1) % Spacing == 0 || i + Window >= m_levels.size(); }
    void Truncate(size_t n);
    int OpenLevel(int iParent, size_t i, const std::vector<std::string>& parts, bool bExisting, std::string& sWhy);
    int Reopen(size_t i, const std::vector<std::string>& parts, std::string& sWhy);

    bool m_bMake;
    int m_iRoot = -1;
    dev_t m_rootDev = 0;
    ino_t m_rootIno = 0;
    std::vector<Level> m_levels;
    size_t m_uFailedAt = 0;
    size_t m_uFirstMade = 0;
};
