// The entries of an archive added to, written again after the new ones (see CopyOldEntries).

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>
#include <zip.h>

#include "engine/ArchiveCheck.h"
#include "engine/ArchiveSource.h"
#include "engine/ZipAes.h"
#include "engine/ZipFormat.h"
#include "engine/ZipInternal.h"
#include "engine/ZipWriter.h"

namespace libZip::detail {

namespace {

// An entry's compressed data through libzip, decrypted with sPassword when it is set.
int CopyData(zip_t* pOld, zip_uint64_t idx, const std::string& sPassword, const ZipEntryRecord& rec, ZipWriter& w) {
    zip_file_t* zf = !sPassword.empty() ? zip_fopen_index_encrypted(pOld, idx, ZIP_FL_COMPRESSED, sPassword.c_str())
                                        : zip_fopen_index(pOld, idx, ZIP_FL_COMPRESSED);
    if (!zf) return ZE_READ;
    char buf[65536];
    zip_int64_t got;
    uint64_t total = 0;
    while ((got = zip_fread(zf, buf, sizeof buf)) > 0) {
        total += static_cast<uint64_t>(got);
        if (!w.Data(buf, static_cast<size_t>(got))) {
            zip_fclose(zf);
            return ZE_WRITE;
        }
    }
    zip_fclose(zf);
    return got < 0 || total != rec.CompSize ? ZE_READ : ZE_OK;
}

// An AES entry's stored bytes (salt, verifier, data, code) as the file holds them: they are
// carried on without the password, and the code still proves them to any reader.
int CopyRaw(zip_t* pOld, uint64_t lStart, uint64_t lLength, ZipWriter& w) {
    const int fd = ArchiveSource::Fd(pOld);
    if (fd < 0 || lStart == 0) return ZE_READ;
    std::vector<char> buf(1u << 16);
    for (uint64_t at = 0; at < lLength;) {
        const ssize_t n = ::pread(fd, buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), lLength - at)),
                                  static_cast<off_t>(lStart + at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return ZE_READ;
        if (!w.Data(buf.data(), static_cast<size_t>(n))) return ZE_WRITE;
        at += static_cast<uint64_t>(n);
    }
    return ZE_OK;
}

int CopyOldEntry(zip_t* pOld, zip_uint64_t idx, const ArchiveCheck::RawEntry& raw, const std::string& sPassword,
                 ZipWriter& w, ZipEntryRecord& rec) {
    zip_stat_t st;
    if (zip_stat_index(pOld, idx, 0, &st) != 0) return ZE_FORM;
    const bool bEncrypted = st.encryption_method != ZIP_EM_NONE;
    const bool bAes = bEncrypted && raw.Aes.size() == AesExtraLength;
    if (bEncrypted && !bAes && sPassword.empty()) return ZE_PARMS;
    rec.Name = raw.Name;
    rec.MTime = st.mtime;
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    zip_file_get_external_attributes(pOld, idx, 0, &opsys, &attr);
    const bool bDir = !raw.Name.empty() && raw.Name.back() == '/';
    rec.Mode = opsys == ZIP_OPSYS_UNIX && (attr >> 16) != 0 ? attr >> 16 : (bDir ? 040755 : 0100644);
    zip_uint16_t len = 0;
    const zip_uint8_t* ut = zip_file_extra_field_get_by_id(pOld, idx, ZipFormat::TimeId, 0, &len, ZIP_FL_CENTRAL);
    ZipFormat::ExtendedMTime(ut, len, rec.MTime);
    rec.Method = st.comp_method;
    rec.Crc = st.crc;
    rec.Size = st.size;
    rec.CompSize = st.comp_size - (bEncrypted && !bAes ? 12 : 0);
    if (bAes) {
        const auto* a = reinterpret_cast<const unsigned char*>(raw.Aes.data());
        rec.AesVendor = a[0];
        rec.AesStrength = a[4];
        rec.Method = static_cast<uint16_t>(a[5] | (a[6] << 8));
        if (!(st.valid & ZIP_STAT_CRC)) rec.Crc = 0;
    }
    if (!w.Begin(rec, true, bEncrypted && !bAes ? std::string_view(sPassword) : std::string_view())) return ZE_WRITE;
    const int code =
        bAes ? CopyRaw(pOld, raw.DataStart, rec.CompSize, w) : CopyData(pOld, idx, bEncrypted ? sPassword : "", rec, w);
    if (code != ZE_OK) return code;
    if (!w.End(rec, rec.Crc, rec.Size, rec.CompSize)) return ZE_WRITE;
    return ZE_OK;
}

} // namespace

// The entries of the archive added to that no new entry replaced, written again after
// the new ones: their data deflated as it was, traditionally encrypted ones with this
// archive's password, AES ones as they are (their salts, keys and codes their own).
// An archive whose headers do not check out is not carried on: its entries would get
// fresh checksums and read as sound.
int CopyOldEntries(zip_t* pOld, const EntryStore& store, const std::string& sPassword, ZipWriter& w,
                   std::vector<std::pair<std::string, ZipEntryRecord>>& old) {
    const zip_int64_t n = zip_get_num_entries(pOld, 0);
    std::vector<ArchiveCheck::RawEntry> raw;
    std::string sWhy;
    if (!ArchiveCheck::ScanArchive(ArchiveSource::Fd(pOld), raw, sWhy) ||
        raw.size() != static_cast<uint64_t>(std::max<zip_int64_t>(n, 0)))
        return ZE_FORM;
    for (const ArchiveCheck::RawEntry& r : raw)
        if (!r.Damage.empty()) return ZE_FORM;
    for (zip_int64_t j = 0; j < n; ++j) {
        const auto idx = static_cast<zip_uint64_t>(j);
        std::string sName = raw[idx].Name;   // the exact bytes, not libzip's reading of them
        if (store.Contains(sName)) continue; // replaced by the newer copy, as zip does
        ZipEntryRecord rec;
        const int code = CopyOldEntry(pOld, idx, raw[idx], sPassword, w, rec);
        if (code != ZE_OK) return code;
        old.emplace_back(std::move(sName), rec);
    }
    return ZE_OK;
}

} // namespace libZip::detail
