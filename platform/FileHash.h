#pragma once

#include <QByteArray>

#include <array>

namespace treelan {

using Sha256Digest = std::array<unsigned char, 32>;

// The SHA-256 of the regular file `rawName` of the open folder `folderFd`, read whole (only a
// regular file is opened, see OpenRegularFile). False with `error` set to an errno value when it
// cannot be opened or read.
bool Sha256OfFile(int folderFd, const QByteArray& rawName, Sha256Digest& digest, int& error);

} // namespace treelan
