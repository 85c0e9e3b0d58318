#pragma once

#include <QString>
#include <stdexcept>

namespace treelan {

// A file-system failure in the user's words: what failed and on which file.
class FileError : public std::runtime_error {
public:
    FileError(const QString& path, const QString& reason);

    // Builds the reason from an errno value.
    static FileError fromErrno(const QString& path, const QString& action, int errnum);

    const QString& path() const { return m_path; }
    const QString& reason() const { return m_reason; }
    // "<path>: <reason>", the form every front end shows.
    QString message() const;

private:
    QString m_path;
    QString m_reason;
};

// The system's reason for an errno value, as every message gives it ("Permission denied").
QString ErrnoText(int error);

// Thrown when a progress callback asks a long operation to stop.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("cancelled") {}
};

} // namespace treelan
