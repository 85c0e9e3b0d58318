// Reads each file named on standard input with the media readers, in this process, and prints per
// file the bytes its reads fetched (the kernel's rchar: read and pread; pages exiv2 maps are not
// counted) and the microseconds it took: "BYTES MICROSECONDS PATH".
#include "media/MediaReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 kernelBytesRead() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:")) return line.mid(6).trimmed().toLongLong();
    return -1;
}

} // namespace

int main() {
    treelan::InitMediaLibraries();
    QTextStream in(stdin);
    QTextStream out(stdout);
    for (QString path = in.readLine(); !path.isNull(); path = in.readLine()) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        ::fstat(fd, &st);
        // The /proc read itself counts: measured around an empty read, then taken off.
        const qint64 a = kernelBytesRead();
        const qint64 b = kernelBytesRead();
        QElapsedTimer timer;
        timer.start();
        (void)treelan::ReadMedia(fd, st.st_size, path.section(QLatin1Char('/'), -1));
        const qint64 us = timer.nsecsElapsed() / 1000;
        const qint64 c = kernelBytesRead();
        ::close(fd);
        out << (c - b) - (b - a) << ' ' << us << ' ' << path << '\n';
    }
    return 0;
}
