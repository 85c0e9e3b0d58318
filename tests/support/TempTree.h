#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

// A throw-away folder tree for tests. Paths are relative to the root and use "/"; missing parent
// folders are made. Times are set exactly (UTC); sizes beyond the content make sparse files.
class TempTree {
public:
    TempTree();

    QString root() const; // absolute, ending in "/"
    QString path(const QString& relative) const;

    void createFile(const QString& relative, const QByteArray& content,
                    const QDateTime& mtime = defaultTime());
    void createSparseFile(const QString& relative, qint64 size,
                          const QDateTime& mtime = defaultTime());
    void createDir(const QString& relative);
    void createSymlink(const QString& relative, const QString& target);
    // A FIFO, and a Unix socket whose node stays after its descriptor is closed.
    void createFifo(const QString& relative);
    void createSocket(const QString& relative);
    // Raw file name bytes (for names that are not valid UTF-8), inside the folder `relativeDir`.
    void createRawFile(const QString& relativeDir, const QByteArray& rawName,
                       const QByteArray& content, const QDateTime& mtime = defaultTime());
    void setTime(const QString& relative, const QDateTime& mtime);
    void setMode(const QString& relative, int mode);
    // `depth` nested folders named `folderName` from the root, with an empty file at the bottom.
    void createDeepChain(const char* folderName, int depth, const char* leafName);

    static QDateTime defaultTime();
    static QDateTime utc(int year, int month, int day, int hour = 12, int minute = 0);

private:
    QTemporaryDir m_dir;
};
