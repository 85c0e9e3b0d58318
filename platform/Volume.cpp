#include "platform/Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <vector>

namespace treelan {

namespace {

// Magic numbers of statfs's f_type (linux/magic.h and the file systems' own headers).
constexpr unsigned long kMsdosMagic = 0x4d44;
constexpr unsigned long kExfatMagic = 0x2011BAB0;
constexpr unsigned long kNfsMagic = 0x6969;
constexpr unsigned long kSmbMagic = 0x517B;
constexpr unsigned long kCifsMagic = 0xFF534D42;
constexpr unsigned long kSmb2Magic = 0xFE534D42;

bool isNetwork(unsigned long type) {
    return type == kNfsMagic || type == kSmbMagic || type == kCifsMagic || type == kSmb2Magic;
}

// mountinfo writes space, tab, newline and backslash as octal escapes (\040).
std::string unescapeOctal(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// udev writes unsafe bytes of a label as \xHH.
std::string unescapeHex(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out += char(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Mount {
    dev_t dev = 0;
    std::string root;       // the mounted folder inside its file system
    std::string mountPoint; // where it is mounted
    std::string fsType;
    std::string source;
};

std::vector<Mount> readMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t at = 0;
        while (at <= line.size()) {
            const std::size_t space = line.find(' ', at);
            f.push_back(
                line.substr(at, space == std::string::npos ? std::string::npos : space - at));
            if (space == std::string::npos) break;
            at = space + 1;
        }
        std::size_t dash = 6;
        while (dash < f.size() && f[dash] != "-")
            ++dash;
        if (f.size() < 5 || dash + 2 >= f.size()) continue;
        Mount m;
        unsigned major = 0, minor = 0;
        if (std::sscanf(f[2].c_str(), "%u:%u", &major, &minor) != 2) continue;
        m.dev = makedev(major, minor);
        m.root = unescapeOctal(f[3]);
        m.mountPoint = unescapeOctal(f[4]);
        m.fsType = f[dash + 1];
        m.source = unescapeOctal(f[dash + 2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

// Whether `path` is `prefix` or lies below it ("/" holds everything).
bool below(const std::string& path, const std::string& prefix) {
    if (prefix == "/") return true;
    return path.compare(0, prefix.size(), prefix) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '/');
}

std::string joinPath(const std::string& base, const std::string& rest) {
    if (rest.empty() || rest == "/") return base.empty() ? "/" : base;
    if (base.empty() || base == "/") return rest[0] == '/' ? rest : "/" + rest;
    return base + (rest[0] == '/' ? rest : "/" + rest);
}

// The name of the entry of a /dev/disk/by-* folder that leads to the block device `dev`.
std::string diskLinkName(const char* folder, dev_t dev) {
    std::string found;
    DIR* dir = ::opendir(folder);
    if (!dir) return found;
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.') continue;
        struct stat st;
        const std::string path = std::string(folder) + "/" + d->d_name;
        if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == dev) {
            found = d->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string fsidText(const struct statfs& sf) {
    int words[2];
    static_assert(sizeof words == sizeof sf.f_fsid);
    std::memcpy(words, &sf.f_fsid, sizeof words);
    if (words[0] == 0 && words[1] == 0) return {};
    char text[32];
    std::snprintf(text, sizeof text, "fsid:%08x%08x", unsigned(words[0]), unsigned(words[1]));
    return text;
}

// The identity of the file system of mount `m`; `sf` is its statfs.
std::string identityOf(const Mount& m, const struct statfs& sf) {
    const std::string uuid = diskLinkName("/dev/disk/by-uuid", m.dev);
    if (!uuid.empty()) return "uuid:" + uuid;
    const std::string fsid = fsidText(sf);
    if (!fsid.empty()) return fsid;
    return "mount:" + m.source + " " + m.fsType;
}

} // namespace

bool IdentifyVolume(const std::string& path, VolumeIdentity& out, int& error) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) {
        error = errno;
        return false;
    }
    const std::string canonical(real);
    std::free(real);
    struct stat st;
    struct statfs sf;
    if (::stat(canonical.c_str(), &st) != 0 || ::statfs(canonical.c_str(), &sf) != 0) {
        error = errno;
        return false;
    }
    // The mount that holds the folder: its device, and the longest mount point above it; of
    // mounts on the same point the last one, which hides the others.
    const Mount* best = nullptr;
    const std::vector<Mount> mounts = readMounts();
    for (const Mount& m : mounts)
        if (m.dev == st.st_dev && below(canonical, m.mountPoint) &&
            (!best || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    Mount fallback;
    if (!best) {
        fallback.dev = st.st_dev;
        fallback.root.assign(1, '/');
        fallback.mountPoint.assign(1, '/');
        best = &fallback;
    }
    out.id = identityOf(*best, sf);
    out.rootInFs = joinPath(
        best->root, canonical.substr(best->mountPoint == "/" ? 0 : best->mountPoint.size()));
    out.fsType = best->fsType;
    out.mountPoint = best->mountPoint;
    const std::string label = diskLinkName("/dev/disk/by-label", st.st_dev);
    out.fsLabel = unescapeHex(label);
    const auto type = static_cast<unsigned long>(sf.f_type);
    out.timeResolutionNs = type == kMsdosMagic   ? 2'000'000'000
                           : type == kExfatMagic ? 10'000'000
                                                 : 1;
    out.network = isNetwork(type);
    return true;
}

std::string FindVolume(const std::string& id, const std::string& rootInFs) {
    dev_t uuidDev = 0;
    if (id.compare(0, 5, "uuid:") == 0) {
        struct stat st;
        const std::string link = "/dev/disk/by-uuid/" + id.substr(5);
        if (::stat(link.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
        uuidDev = st.st_rdev;
    }
    std::vector<Mount> mounts = readMounts();
    // A root that mountinfo does not show (a chroot's) is a mount of its device at "/", as
    // IdentifyVolume takes it.
    struct stat rootSt;
    if (::stat("/", &rootSt) == 0 &&
        std::none_of(mounts.begin(), mounts.end(),
                     [&rootSt](const Mount& m) { return m.dev == rootSt.st_dev; })) {
        Mount root;
        root.dev = rootSt.st_dev;
        root.root.assign(1, '/');
        root.mountPoint.assign(1, '/');
        mounts.push_back(root);
    }
    for (const Mount& m : mounts) {
        if (uuidDev != 0 && m.dev != uuidDev) continue;
        if (id.compare(0, 6, "mount:") == 0 && id != "mount:" + m.source + " " + m.fsType) continue;
        if (!below(rootInFs, m.root)) continue;
        struct statfs sf;
        if (::statfs(m.mountPoint.c_str(), &sf) != 0) continue;
        if (id.compare(0, 5, "fsid:") == 0 && fsidText(sf) != id) continue;
        if (uuidDev == 0 && id.compare(0, 5, "fsid:") != 0 && identityOf(m, sf) != id) continue;
        const std::string path =
            joinPath(m.mountPoint, rootInFs.substr(m.root == "/" ? 0 : m.root.size()));
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == m.dev)
            return path;
    }
    return {};
}

bool OnNetworkFileSystem(const std::string& path) {
    struct statfs sf;
    return ::statfs(path.c_str(), &sf) == 0 && isNetwork(static_cast<unsigned long>(sf.f_type));
}

std::uint64_t DeviceOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_dev) : 0;
}

bool MakeFolderPath(const std::string& path, int& error) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = errno;
            return false;
        }
    }
    return true;
}

} // namespace treelan
