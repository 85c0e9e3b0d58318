#include "platform/FileError.h"

#include <cstring>

namespace treelan {

FileError::FileError(const QString& path, const QString& reason)
    : std::runtime_error((path + QStringLiteral(": ") + reason).toStdString()), m_path(path),
      m_reason(reason) {}

FileError FileError::fromErrno(const QString& path, const QString& action, int errnum) {
    return FileError(path, action + QStringLiteral(": ") + ErrnoText(errnum));
}

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString FileError::message() const {
    return m_path + QStringLiteral(": ") + m_reason;
}

} // namespace treelan
