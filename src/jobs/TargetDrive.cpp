#include "jobs/TargetDrive.h"

#include "support/libFiles.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace TargetDrive {

namespace {
constexpr const char* kByUuid = "/dev/disk/by-uuid";

// The table escapes space, tab, newline and backslash as three octal digits.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
        if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The path made absolute without "." and ".." parts (it may not exist).
std::string Normal(const std::string& sPath) {
    std::vector<std::string> parts;
    std::stringstream ss(sPath);
    for (std::string p; std::getline(ss, p, '/');) {
        if (p.empty() || p == ".") continue;
        if (p == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(p);
        }
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

// The nearest folder of the path that exists, with its stat.
std::string NearestExisting(const std::string& sPath, struct stat& st) {
    std::string s = Normal(sPath);
    while (::stat(s.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (s == "/") return "";
        const size_t i = s.rfind('/');
        s = i == 0 ? "/" : s.substr(0, i);
    }
    return s;
}

std::string UuidFromByUuid(dev_t device) {
    DIR* dir = ::opendir(kByUuid);
    if (!dir) return "";
    std::string sFound;
    while (dirent* e = ::readdir(dir)) {
        struct stat st {};
        const std::string sName = e->d_name;
        if (sName == "." || sName == "..") continue;
        if (::stat((std::string(kByUuid) + "/" + sName).c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == device) {
            sFound = sName;
            break;
        }
    }
    ::closedir(dir);
    return sFound;
}

std::string UuidFromSuperblock(const std::string& sDevice) {
    blkid_probe probe = blkid_new_probe_from_filename(sDevice.c_str());
    if (!probe) return "";
    std::string sUuid;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID);
    const char* value = nullptr;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && value)
        sUuid = value;
    blkid_free_probe(probe);
    return sUuid;
}

// The mount of the device, when the table has one.
const Mount* MountOfDevice(const std::vector<Mount>& mounts, dev_t device) {
    for (const Mount& m : mounts)
        if (m.Device == device) return &m;
    return nullptr;
}

bool EmptyFolder(const std::string& sFolder) {
    DIR* dir = ::opendir(sFolder.c_str());
    if (!dir) return false;
    bool bEmpty = true;
    while (dirent* e = ::readdir(dir)) {
        const std::string sName = e->d_name;
        if (sName != "." && sName != "..") {
            bEmpty = false;
            break;
        }
    }
    ::closedir(dir);
    return bEmpty;
}

// The folder is where a file system is mounted (its parent lies on another).
bool MountedOn(const std::string& sFolder, const struct stat& st) {
    struct stat parent {};
    return sFolder != "/" && ::stat((sFolder + "/..").c_str(), &parent) == 0 && parent.st_dev != st.st_dev;
}
} // namespace

std::vector<Mount> ReadMounts(const std::string& sFile) {
    std::vector<Mount> mounts;
    std::ifstream in(sFile);
    for (std::string sLine; std::getline(in, sLine);) {
        std::istringstream fields(sLine);
        std::string sId, sParent, sDev, sRoot, sPoint;
        if (!(fields >> sId >> sParent >> sDev >> sRoot >> sPoint)) continue;
        std::string s;
        while (fields >> s && s != "-") {
        }
        std::string sType, sSource;
        fields >> sType >> sSource;
        unsigned iMajor = 0, iMinor = 0;
        if (std::sscanf(sDev.c_str(), "%u:%u", &iMajor, &iMinor) != 2) continue;
        mounts.push_back({Unescape(sPoint), Unescape(sSource), makedev(iMajor, iMinor)});
    }
    return mounts;
}

std::string UuidOfDevice(dev_t device, const std::string& sSource) {
    if (std::string s = UuidFromByUuid(device); !s.empty()) return s;
    // Without udev (a container, a minimal system): the superblock of the device node itself.
    struct stat st {};
    if (sSource.rfind("/dev/", 0) == 0 && ::stat(sSource.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
        st.st_rdev == device)
        return UuidFromSuperblock(sSource);
    return "";
}

std::string VolumeOf(const std::string& sPath) {
    struct stat st {};
    if (NearestExisting(sPath, st).empty()) return "";
    const std::vector<Mount> mounts = ReadMounts();
    const Mount* pMount = MountOfDevice(mounts, st.st_dev);
    return UuidOfDevice(st.st_dev, pMount ? pMount->Source : "");
}

bool VolumeMounted(const std::string& sUuid) {
    if (sUuid.empty()) return false;
    const std::vector<Mount> mounts = ReadMounts();
    struct stat st {};
    if (::stat((std::string(kByUuid) + "/" + sUuid).c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        return MountOfDevice(mounts, st.st_rdev) != nullptr;
    for (const Mount& m : mounts)
        if (m.Source.rfind("/dev/", 0) == 0 && UuidOfDevice(m.Device, m.Source) == sUuid) return true;
    return false;
}

Where Locate(const CBackupJob& job) {
    const std::string& sVolume = job.TargetVolume();
    const std::string& sTarget = job.TargetDirectory();
    if (sVolume.empty() || sTarget.empty() || sTarget[0] != '/') return Where::Unknown;
    struct stat st {};
    const std::string sNearest = NearestExisting(sTarget, st);
    if (sNearest.empty()) return Where::Unknown;
    const std::vector<Mount> mounts = ReadMounts();
    const Mount* pMount = MountOfDevice(mounts, st.st_dev);
    const std::string sHere = UuidOfDevice(st.st_dev, pMount ? pMount->Source : "");
    if (sHere == sVolume) return Where::Here;
    const bool bMissing = sNearest != Normal(sTarget);
    // The drive is mounted elsewhere: a missing folder fails the run as any missing target does.
    if (VolumeMounted(sVolume)) return bMissing ? Where::Unknown : Where::Other;
    if (bMissing) return Where::Away; // nothing there to mistake for the drive
    if (MountedOn(sNearest, st) || !EmptyFolder(sNearest)) return Where::Other;
    return Where::Away;
}

std::string RefusedText(const CBackupJob& job, Where where) {
    if (where == Where::Away)
        return "The drive of target folder '" + job.TargetDirectory() + "' (file system " + job.TargetVolume() +
               ") is not connected: nothing was written.";
    const std::string sHere = VolumeOf(job.TargetDirectory());
    return "Target folder '" + job.TargetDirectory() + "' is on another drive (file system " +
           (sHere.empty() ? std::string("unknown") : sHere) + ", not " + job.TargetVolume() + "): nothing was written.";
}

} // namespace TargetDrive
