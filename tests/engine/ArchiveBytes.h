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

// Checks, independently of the program, that every central header of the archive carries the
// checksum field with its place, the count and a CRC-32 of the header's other bytes. Exit 0 when
// all do; prints the number of entries.
inline const char* FieldCheckScript() {
    return R"PY(
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
e = data.rfind(b"PK\x05\x06")
count, size, off = struct.unpack("<HII", data[e + 10:e + 20])
if data[e - 20:e - 16] == b"PK\x06\x07":
    z = struct.unpack("<Q", data[e - 12:e - 4])[0]
    count, size, off = struct.unpack("<QQQ", data[z + 32:z + 56])
p = off
for i in range(count):
    assert data[p:p + 4] == b"PK\x01\x02", i
    n, x, c = struct.unpack("<HHH", data[p + 28:p + 34])
    name = data[p + 46:p + 46 + n]
    extra = data[p + 46 + n:p + 46 + n + x]
    comment = data[p + 46 + n + x:p + 46 + n + x + c]
    fixed = bytearray(data[p:p + 46])
    usize, csize, local = struct.unpack("<III", bytes(fixed[24:28] + fixed[20:24] + fixed[42:46]))
    fixed[42:46] = bytes(4)  # the local header offset counts as zero
    others, field, q = b"", None, 0
    while q + 4 <= len(extra):
        fid, fl = struct.unpack("<HH", extra[q:q + 4])
        body = bytearray(extra[q + 4:q + 4 + fl])
        if fid == 1 and local == 0xFFFFFFFF:
            at = 8 * (usize == 0xFFFFFFFF) + 8 * (csize == 0xFFFFFFFF)
            body[at:at + 8] = bytes(8)
        if fid == 0x4C53:
            field = bytes(body)
        else:
            others += extra[q:q + 4] + bytes(body)
        q += 4 + fl
    assert field is not None and len(field) == 21, (i, name)
    version, index, total, crc = struct.unpack("<BQQI", field)
    assert (version, index, total) == (1, i, count), (i, name, version, index, total)
    assert zlib.crc32(bytes(fixed) + name + others + comment + field[:17]) == crc, (i, name)
    p += 46 + n + x + c
assert p == off + size
print(count)
)PY";
}

// The checksum field of every central header checks out (the script above, run by Python).
inline void ExpectSoundFields(const std::string& sZip, const std::string& sScratch) {
    const std::string sScript = sScratch + "/fieldcheck.py";
    std::ofstream(sScript) << FieldCheckScript();
    EXPECT_EQ(ziptest::Shell("python3 '" + sScript + "' '" + sZip + "'"), 0) << sZip;
}

// Every reader at hand accepts the archive: unzip, bsdtar, Python's zipfile (testzip), libzip
// with its consistency checks; and every header carries a sound checksum field.
inline void ExpectReadableEverywhere(const std::string& sZip, const std::string& sScratch,
                                     const std::string& sPassword = "") {
    using ziptest::Shell;
    ExpectSoundFields(sZip, sScratch);
    const std::string sP = sPassword.empty() ? "" : " -P '" + sPassword + "'";
    EXPECT_EQ(Shell("unzip -tq" + sP + " '" + sZip + "'"), 0);
    EXPECT_EQ(Shell("bsdtar -tf '" + sZip + "'"), 0);
    const std::string sTest = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                              "z.setpassword(sys.argv[2].encode())\nsys.exit(0 if z.testzip() is None else 1)\n";
    const std::string sTestScript = sScratch + "/testzip.py";
    std::ofstream(sTestScript) << sTest;
    EXPECT_EQ(Shell("python3 '" + sTestScript + "' '" + sZip + "' '" + sPassword + "'"), 0);
    bool bOpened = false;
    const auto entries = ReadEntries(sZip, bOpened, ZIP_CHECKCONS);
    EXPECT_TRUE(bOpened);
    EXPECT_FALSE(entries.empty());
    for (const auto& e : entries)
        EXPECT_EQ(e.Damage, "") << e.Name;
}

} // namespace archivetest
