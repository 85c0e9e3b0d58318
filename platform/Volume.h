#pragma once

// Which file system a folder lives on, told apart from every other one: the catalogue recognises
// a drive by it wherever the drive is mounted. Plain C++ over the system, without Qt, so that the
// catalogue's search can run without it.

#include <cstdint>
#include <string>

namespace treelan {

struct VolumeIdentity {
    // The file system's identity, in this order of preference: "uuid:" and the UUID of its
    // device (/dev/disk/by-uuid), "fsid:" and statfs's file-system id when it is not 0, "mount:"
    // and the mount source and type from /proc/self/mountinfo.
    std::string id;
    std::string rootInFs;   // the folder's path inside its file system: "/", "/photos"
    std::string fsType;     // "ext4", "vfat", ...
    std::string fsLabel;    // the file system's label (/dev/disk/by-label), or empty
    std::string mountPoint; // where the file system is mounted now
    // The finest step of the file system's times: FAT keeps 2 s, exFAT 10 ms, the others 1 ns.
    std::int64_t timeResolutionNs = 1;
    bool network = false; // NFS or SMB
};

// Identifies the volume of the existing folder `path` (absolute, raw bytes). False with `error`
// set to an errno value when the folder cannot be examined.
bool IdentifyVolume(const std::string& path, VolumeIdentity& out, int& error);

// The path where the folder `rootInFs` of the volume `id` can be reached now; empty when no
// mounted file system has that identity or the folder is not there.
std::string FindVolume(const std::string& id, const std::string& rootInFs);

// True when `path` lies on NFS or SMB, where SQLite's write-ahead log cannot share its index.
bool OnNetworkFileSystem(const std::string& path);

// The device number (st_dev) of the folder at `path` now, following links; 0 when it is gone.
// A long walk asks again at its end: a drive unplugged meanwhile no longer answers with it.
std::uint64_t DeviceOf(const std::string& path);

// Makes the folder `path` and the folders above it that are missing. False with `error` set.
bool MakeFolderPath(const std::string& path, int& error);

} // namespace treelan
