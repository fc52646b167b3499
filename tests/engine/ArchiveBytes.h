#pragma once
// Archives taken apart and damaged byte by byte for the archive-check tests, and the
// independent reading of the central checksum field (a Python script, so that the writer and
// the reader are checked against a second implementation of the layout).

#include "ZipFixture.h"

#include "engine/RestoreInternal.h"

#include <cstdint>
#include <iterator>

namespace archivetest {

using Bytes = std::string;

inline Bytes Load(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Save(const std::string& sPath, const Bytes& b) {
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
}

inline uint32_t Get(const Bytes& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

inline void Set(Bytes& b, size_t at, int n, uint32_t v) {
    for (int i = 0; i < n; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Where the end record and each central header of a small archive (no Zip64) start.
struct Layout {
    size_t End = 0;
    std::vector<size_t> Central;
};

inline Layout LayoutOf(const Bytes& b) {
    Layout l;
    l.End = b.rfind(std::string("PK\x05\x06", 4));
    if (l.End == std::string::npos) return l;
    size_t at = Get(b, l.End + 16, 4);
    for (uint32_t i = 0; i < Get(b, l.End + 10, 2) && at + 46 <= b.size(); ++i) {
        l.Central.push_back(at);
        at += 46 + Get(b, at + 28, 2) + Get(b, at + 30, 2) + Get(b, at + 32, 2);
    }
    return l;
}

// The central header of the entry whose name ends with sSuffix.
inline size_t CentralOf(const Bytes& b, const std::string& sSuffix) {
    for (size_t at : LayoutOf(b).Central) {
        const std::string sName = b.substr(at + 46, Get(b, at + 28, 2));
        if (sName.size() >= sSuffix.size() &&
            sName.compare(sName.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0)
            return at;
    }
    return std::string::npos;
}

// The entries as restore and verify read them; bOpened false when libzip refused the archive.
inline std::vector<libRestore::Entry> ReadEntries(const std::string& sPath, bool& bOpened, int iFlags = 0) {
    std::vector<libRestore::Entry> entries;
    std::string sError;
    zip_t* pZip = libRestore::detail::OpenArchive(sPath, iFlags, sError);
    bOpened = pZip != nullptr;
    if (pZip != nullptr) {
        if (!libRestore::detail::ReadArchiveEntries(pZip, entries, sError)) bOpened = false;
        zip_discard(pZip);
    }
    return entries;
}

// The checksum field of every central header checks out, as Python reads it.
inline void ExpectSoundFields(const std::string& sZip) {
    EXPECT_EQ(ziptest::Tool("header_checksums", {sZip}), 0) << sZip;
}

// Every reader at hand accepts the archive: unzip, bsdtar, Python's zipfile (testzip), libzip
// with its consistency checks; and every header carries a sound checksum field.
inline void ExpectReadableEverywhere(const std::string& sZip, const std::string& sPassword = "") {
    using ziptest::Shell;
    ExpectSoundFields(sZip);
    const std::string sP = sPassword.empty() ? "" : " -P '" + sPassword + "'";
    EXPECT_EQ(Shell("unzip -tq" + sP + " '" + sZip + "'"), 0);
    EXPECT_EQ(Shell("bsdtar -tf '" + sZip + "'"), 0);
    EXPECT_EQ(ziptest::Tool("test_zip", {sZip, sPassword}), 0);
    bool bOpened = false;
    const auto entries = ReadEntries(sZip, bOpened, ZIP_CHECKCONS);
    EXPECT_TRUE(bOpened);
    EXPECT_FALSE(entries.empty());
    for (const auto& e : entries)
        EXPECT_EQ(e.Damage, "") << e.Name;
}

} // namespace archivetest
