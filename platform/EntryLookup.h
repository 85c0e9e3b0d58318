#pragma once

#include "platform/FileDescriptor.h"
#include "platform/RootPath.h"

#include <QByteArray>

namespace treelan {

// Finds what a path that the user gave names below a root (--only, --exclude): a path relative to
// the root ("./a", "a//b" and "a/./b" all name "a/b"), or an absolute path that lies under the root
// as given or under its real path. Holds the root open while it lives, so many lookups cost one
// open.
class EntryLookup {
public:
    enum class Kind { Outside, Missing, File, Folder };
    struct Result {
        Kind kind = Kind::Missing;
        // Relative to the root, without "." or ".." parts; ends in "/" for a folder and where the
        // path given ended in "/". Empty for the root itself.
        QByteArray relPath;
    };

    explicit EntryLookup(const RootPath& root);

    Result find(const QByteArray& path) const;

private:
    UniqueFd m_rootFd;
    QByteArray m_root;     // as given, absolute, ending in "/"
    QByteArray m_realRoot; // the same with links resolved, ending in "/"; empty when unknown
};

} // namespace treelan
