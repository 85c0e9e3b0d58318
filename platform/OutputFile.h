#pragma once

#include "platform/DirWalker.h"

#include <QByteArray>
#include <QString>

struct stat;

namespace treelan {

// Where an export's bytes go, opened as a shell redirection would open it, but never replacing
// what is not a regular file:
// - "-", "/dev/stdout", "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N": that descriptor of this
//   process, written at its offset (the caller holds it open, even when it is a regular file);
// - a character device or a FIFO: opened for writing and written straight into;
// - a regular file, or none: a temporary file beside it, renamed over it by commit(), the old
//   file's mode (and owner, where allowed) kept;
// - a folder, a socket or a block device: refused.
// A symbolic link is followed to its final target, which is treated as above; the link stays.
// Every failure throws FileError naming `displayName`, with the system's reason.
class OutputFile {
public:
    OutputFile(QByteArray rawPath, QString displayName);
    ~OutputFile(); // an uncommitted temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void open();
    void write(const char* data, qsizetype size);
    // Completes the output: a temporary file is synced and renamed into place.
    void commit();
    // Drops an uncommitted temporary file; the target stays as it was.
    void discard();

    // The temporary file while there is one: a walk of its folder must not list it.
    FileId temporaryFile() const { return m_temporary; }
    const QString& displayName() const { return m_displayName; }

private:
    void openDescriptor(int fd);
    void openDevice(const QByteArray& path);
    void openReplacement(const QByteArray& path, const struct stat* existing);
    [[noreturn]] void fail(const char* action, int error) const;

    QByteArray m_rawPath;
    QString m_displayName;
    int m_fd = -1;
    bool m_ownsFd = false;
    int m_dirFd = -1;            // the replaced file's folder
    QByteArray m_name;           // the replaced file's name in it
    QByteArray m_temporaryName;  // the temporary file's name, when it has one
    bool m_replacing = false;    // an uncommitted temporary file exists
    bool m_cleanupArmed = false; // a signal removes the named temporary file
    FileId m_temporary;
};

// A reader that goes away ends a command-line export as it ends `find | head`: quietly, by
// SIGPIPE's default action, whatever disposition the parent process left.
void RestoreBrokenPipeDefault();
// For a thread that writes exports inside a program that must go on (the window): a reader that
// goes away makes the write fail with EPIPE instead of ending the program.
void BlockBrokenPipeInThisThread();

} // namespace treelan
