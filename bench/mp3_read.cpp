// Reads the MP3 information of every .mp3 below a folder and reports the bytes read per file
// beyond the tag skip, by the reader's own count and by the kernel's (/proc/self/io rchar).
#include "media/Mp3Info.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTextStream>

namespace {

qint64 kernelBytesRead() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:")) return line.mid(6).trimmed().toLongLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: bench_mp3read FOLDER\n";
        return 2;
    }
    QStringList files;
    QDirIterator it(QString::fromLocal8Bit(argv[1]), {QStringLiteral("*.mp3")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    qint64 total = 0, most = 0, withInfo = 0;
    const qint64 kernelBefore = kernelBytesRead();
    for (const QString& f : files) {
        qint64 n = 0;
        const treelan::MP3Info info = treelan::ReadMP3Info(f, &n);
        total += n;
        most = qMax(most, n);
        if (!info.Bitrate.isEmpty()) ++withInfo;
    }
    const qint64 kernel = kernelBytesRead() - kernelBefore;
    const qint64 limit = 64 * 1024;
    out << "MP3 reader over " << files.size() << " files with cover art (" << withInfo
        << " with information)\n"
        << "  read beyond the tag: average " << (files.isEmpty() ? 0 : total / files.size())
        << " B, most " << most << " B (limit " << limit << ") " << (most <= limit ? "ok" : "OVER")
        << '\n'
        << "  kernel rchar per file (tag header and ID3v1 probe included): "
        << (files.isEmpty() ? 0 : kernel / files.size()) << " B\n";
    return 0;
}
