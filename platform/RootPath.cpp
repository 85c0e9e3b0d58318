#include "platform/RootPath.h"

#include "codec/Utf8.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
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

// Empty when the system cannot tell (the folder was removed, or lies outside this process's
// root). glibc finds paths longer than PATH_MAX too.
QByteArray currentFolder() {
    QByteArray buffer(PATH_MAX, '\0');
    while (!::getcwd(buffer.data(), std::size_t(buffer.size()))) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.constData());
}

// Opens `path` one part at a time from `fd`, for paths longer than one system call takes.
int openByParts(int fd, const QByteArray& path, int flags) {
    int at = fd;
    const QList<QByteArray> parts = path.split('/');
    for (const QByteArray& part : parts) {
        if (part.isEmpty() || part == ".") continue;
        const int next = ::openat(at, part.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (at != fd) ::close(at);
        if (next < 0) {
            errno = error;
            return -1;
        }
        at = next;
    }
    // The last part opened as asked; ".." parts are cleaned out of absolute paths and never
    // kept in relative ones, so each step went down.
    const int folder = ::openat(at, ".", flags);
    const int error = errno;
    if (at != fd) ::close(at);
    errno = error;
    return folder;
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
    if (path.startsWith('/')) {
        root.m_raw = cleanAbsolute(path);
    } else {
        // Below the current folder the path is opened as given, relative to it: that names the
        // same folder as the absolute text, which may be too long to open or not to be had.
        if (!path.split('/').contains("..")) root.m_relative = path;
        const QByteArray current = currentFolder();
        if (!current.isEmpty()) {
            root.m_raw = cleanAbsolute(current + '/' + path);
        } else if (!root.m_relative.isEmpty()) {
            // No absolute path to show: the documents name the folder as it was given.
            root.m_raw = path.endsWith('/') ? path : path + '/';
        } else {
            root.m_raw = cleanAbsolute(QFile::encodeName(QDir::currentPath()) + '/' + path);
        }
    }
    root.m_display = DecodeFileName(root.m_raw);
    return root;
}

int RootPath::openWith(int flags) const {
    if (m_raw.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    const QByteArray& path = m_relative.isEmpty() ? m_raw : m_relative;
    const int fd = ::open(path.constData(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
    if (!m_relative.isEmpty()) return openByParts(AT_FDCWD, m_relative, flags);
    const int top = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return -1;
    const int folder = openByParts(top, m_raw, flags);
    const int error = errno;
    ::close(top);
    errno = error;
    return folder;
}

bool RootPath::isFolder() const {
    // O_PATH: a folder that cannot be read is still a folder (the walk then says why).
    const int fd = openWith(O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

int RootPath::open() const {
    return openWith(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace treelan
