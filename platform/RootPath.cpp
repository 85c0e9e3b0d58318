#include "platform/RootPath.h"

#include "codec/Utf8.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace treelan {

namespace {

bool exists(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// An entry of `folder` whose name reads as `part`, or an empty array.
QByteArray findEntry(const QByteArray& folder, const QString& part) {
    DIR* dir = ::opendir(folder.isEmpty() ? "/" : folder.constData());
    if (!dir) return {};
    QByteArray found;
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray name(d->d_name);
        if (DecodeFileName(name) == part || QFile::decodeName(name) == part) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

QByteArray currentFolder() {
    QByteArray buffer(PATH_MAX, '\0');
    while (!::getcwd(buffer.data(), std::size_t(buffer.size()))) {
        if (errno != ERANGE) return QFile::encodeName(QDir::currentPath());
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.constData());
}

// "/a/b/" from any absolute byte path: no empty, "." or ".." parts.
QByteArray cleanAbsolute(const QByteArray& path) {
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            if (!parts.isEmpty()) parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    QByteArray clean("/");
    for (const QByteArray& part : parts)
        clean.append(part).append('/');
    return clean;
}

} // namespace

QByteArray FindRawPath(const QString& text) {
    QByteArray raw;
    bool onDisk = true; // below a missing part nothing is looked up
    for (const QString& part : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QByteArray utf8 = ToUTF8(part);
        QByteArray next = raw + '/' + utf8;
        if (onDisk && !exists(next)) {
            const QByteArray found = findEntry(raw, part);
            if (found.isEmpty())
                onDisk = false;
            else
                next = raw + '/' + found;
        }
        raw = next;
    }
    return raw.isEmpty() ? QByteArray("/") : raw;
}

RootPath::RootPath(const QString& text) {
    if (text.isEmpty()) return;
    const QString absolute = QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(text));
    *this = fromBytes(FindRawPath(absolute));
}

RootPath RootPath::fromBytes(const QByteArray& path) {
    RootPath root;
    if (path.isEmpty()) return root;
    root.m_raw = cleanAbsolute(path.startsWith('/') ? path : currentFolder() + '/' + path);
    root.m_display = DecodeFileName(root.m_raw);
    return root;
}

bool RootPath::isFolder() const {
    struct stat st;
    return !m_raw.isEmpty() && ::stat(m_raw.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace treelan
