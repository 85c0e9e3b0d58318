#include "TempTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void setTimeRaw(const QByteArray& path, const QDateTime& mtime) {
    const qint64 ms = mtime.toMSecsSinceEpoch();
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ms / 1000;
    times[0].tv_nsec = times[1].tv_nsec = (ms % 1000) * 1000000;
    if (::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        qFatal("TempTree: cannot set time of %s", path.constData());
}

} // namespace

TempTree::TempTree() {
    if (!m_dir.isValid()) qFatal("TempTree: cannot create a temporary folder");
}

QString TempTree::root() const {
    return QDir(m_dir.path()).canonicalPath() + QLatin1Char('/');
}

QString TempTree::path(const QString& relative) const {
    return root() + relative;
}

void TempTree::createDir(const QString& relative) {
    if (!QDir().mkpath(path(relative))) qFatal("TempTree: cannot create %s", qPrintable(relative));
}

void TempTree::createFile(const QString& relative, const QByteArray& content,
                          const QDateTime& mtime) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("TempTree: cannot write %s", qPrintable(full));
    f.close();
    setTime(relative, mtime);
}

void TempTree::createSparseFile(const QString& relative, qint64 size, const QDateTime& mtime) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(size))
        qFatal("TempTree: cannot make %s", qPrintable(full));
    f.close();
    setTime(relative, mtime);
}

void TempTree::createSymlink(const QString& relative, const QString& target) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(full).constData()) != 0)
        qFatal("TempTree: cannot link %s", qPrintable(full));
}

void TempTree::createFifo(const QString& relative) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    if (::mkfifo(QFile::encodeName(full).constData(), 0644) != 0)
        qFatal("TempTree: cannot make the FIFO %s", qPrintable(full));
}

void TempTree::createSocket(const QString& relative) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).path());
    const QByteArray raw = QFile::encodeName(full);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(raw.size()) >= sizeof address.sun_path)
        qFatal("TempTree: socket path too long: %s", raw.constData());
    std::memcpy(address.sun_path, raw.constData(), std::size_t(raw.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        qFatal("TempTree: cannot make the socket %s", raw.constData());
    ::close(fd);
}

void TempTree::createRawFile(const QString& relativeDir, const QByteArray& rawName,
                             const QByteArray& content, const QDateTime& mtime) {
    createDir(relativeDir);
    const QByteArray full = QFile::encodeName(path(relativeDir)) + "/" + rawName;
    const int fd = ::open(full.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size())
        qFatal("TempTree: cannot write a raw-named file");
    ::close(fd);
    setTimeRaw(full, mtime);
}

void TempTree::setTime(const QString& relative, const QDateTime& mtime) {
    setTimeRaw(QFile::encodeName(path(relative)), mtime);
}

void TempTree::setMode(const QString& relative, int mode) {
    if (::chmod(QFile::encodeName(path(relative)).constData(), mode_t(mode)) != 0)
        qFatal("TempTree: cannot chmod %s", qPrintable(relative));
}

void TempTree::createDeepChain(const char* folderName, int depth, const char* leafName) {
    // Each folder is made relative to its parent: the whole path would exceed PATH_MAX.
    int fd = ::open(QFile::encodeName(root()).constData(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        if (::mkdirat(fd, folderName, 0755) != 0) qFatal("TempTree: cannot make level %d", i);
        const int next = ::openat(fd, folderName, O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) qFatal("TempTree: cannot open the deep chain");
    ::close(::openat(fd, leafName, O_CREAT | O_WRONLY, 0644));
    ::close(fd);
}

QDateTime TempTree::defaultTime() {
    return utc(2004, 3, 5);
}

QDateTime TempTree::utc(int year, int month, int day, int hour, int minute) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC);
}
