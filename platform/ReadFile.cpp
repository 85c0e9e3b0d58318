#include "platform/ReadFile.h"

#include "platform/FileError.h"

#include <QFile>

namespace treelan {

QByteArray ReadWholeFile(const QString& path, const QString& what) {
    QFile file(path);
    const QString failure = QStringLiteral("cannot read the ") + what + QStringLiteral(": ");
    if (!file.open(QIODevice::ReadOnly)) throw FileError(path, failure + file.errorString());
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) throw FileError(path, failure + file.errorString());
    return content;
}

} // namespace treelan
