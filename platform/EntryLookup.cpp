#include "platform/EntryLookup.h"

#include <QList>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace treelan {

namespace {

// The parts of `path` with "." and empty parts dropped and ".." applied; false when ".." climbs
// above the start.
bool cleanParts(const QByteArray& path, QList<QByteArray>& parts) {
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            if (parts.isEmpty()) return false;
            parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return true;
}

QByteArray joined(const QList<QByteArray>& parts, bool absolute) {
    QByteArray path = absolute ? QByteArray("/") : QByteArray();
    for (const QByteArray& part : parts)
        path += part + '/';
    return path;
}

} // namespace

EntryLookup::EntryLookup(const RootPath& root) : m_root(root.raw()) {
    if (!m_root.endsWith('/')) m_root += '/';
    m_rootFd.reset(::open(m_root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (char* real = ::realpath(m_root.constData(), nullptr)) {
        m_realRoot = real;
        std::free(real);
        if (!m_realRoot.endsWith('/')) m_realRoot += '/';
    }
}

EntryLookup::Result EntryLookup::find(const QByteArray& path) const {
    Result r;
    const bool asFolder = path.endsWith('/') || path.endsWith("/.") || path == ".";
    QList<QByteArray> parts;
    if (path.startsWith('/')) {
        if (!cleanParts(path, parts)) parts.clear(); // "/.." is "/"
        const QByteArray absolute = joined(parts, true);
        QByteArray under;
        if (absolute.startsWith(m_root))
            under = absolute.mid(m_root.size());
        else if (!m_realRoot.isEmpty() && absolute.startsWith(m_realRoot))
            under = absolute.mid(m_realRoot.size());
        else {
            r.kind = Kind::Outside;
            return r;
        }
        parts.clear();
        cleanParts(under, parts);
    } else if (!cleanParts(path, parts)) {
        r.kind = Kind::Outside;
        return r;
    }
    r.relPath = joined(parts, false);
    if (r.relPath.isEmpty()) {
        r.kind = Kind::Folder;
        return r;
    }
    r.relPath.chop(1); // joined() ends every part in "/"
    struct stat st;
    // Links are followed, as the walk follows them.
    if (!m_rootFd || ::fstatat(m_rootFd.get(), r.relPath.constData(), &st, 0) != 0) {
        r.kind = Kind::Missing;
    } else {
        r.kind = S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File;
    }
    if (r.kind == Kind::File && asFolder) r.kind = Kind::Missing; // "a.txt/" names no folder
    if (r.kind == Kind::Folder || asFolder) r.relPath += '/';
    return r;
}

} // namespace treelan
