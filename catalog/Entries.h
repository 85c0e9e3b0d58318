#pragma once

// Between the walk's entries and the catalogue's versions.

#include "catalog/Catalog.h"
#include "media/MediaInfo.h"
#include "platform/DirWalker.h"

namespace treelan::catalog {

// The version an entry of the walk gives (kind, size, times, inode, mode, error); no hash, MP3
// or folder data.
Version VersionOf(const DirEntry& entry);
// The entry a stored version gives back, as the walk would have made it.
DirEntry EntryOf(const Version& version, const std::string& rawName);

// The digest of a folder's entries as the walk read them, in their order: names and everything
// VersionOf keeps. Equal digests: the folder holds what it held, in the same order.
std::int64_t DigestOf(const std::vector<DirEntry>& entries);

// A file's media details as kept with its version, and back; `mp3` is the version's MP3 text.
std::optional<std::string> PackMediaInfo(const MediaInfo& info,
                                         const std::optional<std::string>& mp3);
MediaInfo UnpackMediaInfo(const std::optional<std::string>& media,
                          const std::optional<std::string>& mp3);

// Whether two versions differ in what VersionOf keeps.
bool SameMetadata(const Version& a, const Version& b);

} // namespace treelan::catalog
