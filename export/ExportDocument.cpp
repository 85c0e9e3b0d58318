#include "export/ExportDocument.h"

#include "codec/Utf8.h"
#include "export/Formats.h"
#include "export/TreeWriter.h"
#include "platform/FileError.h"
#include "platform/OutputFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace treelan {

namespace {

// Now, or SOURCE_DATE_EPOCH when it is set: reproducible builds and tests that compare whole
// documents ask for a fixed time that way.
QDateTime exportTime() {
    bool ok = false;
    const qint64 fixed = qEnvironmentVariable("SOURCE_DATE_EPOCH").toLongLong(&ok);
    return ok && fixed >= 0 ? QDateTime::fromSecsSinceEpoch(fixed, Qt::UTC)
                            : QDateTime::currentDateTimeUtc();
}

// The name that errors give: absolute, decoded as every name is.
QString displayNameOf(const QByteArray& raw) {
    if (raw == "-") return QStringLiteral("standard output");
    const QString name = DecodeFileName(raw);
    if (raw.startsWith('/')) return name;
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + name);
}

} // namespace

void WriteExportDocument(const ExportRequest& request) {
    const ExportFormatInfo& format = ExportFormatOf(request.format);
    const QByteArray raw = request.rawTargetPath.isEmpty() ? QFile::encodeName(request.targetPath)
                                                           : request.rawTargetPath;
    OutputFile file(raw, displayNameOf(raw));
    OutputBuffer buffer(file);
    // Everything the document needs is read before the output is touched.
    const std::unique_ptr<TreeWriter> writer = format.makeWriter(request, buffer);
    file.open();
    ExportOptions options = request.options;
    options.walk.leaveOut = file.temporaryFile();
    WriteTree(request.rootPath, options, *writer,
              request.exportTime.isValid() ? request.exportTime : exportTime(), request.source);
    buffer.flush();
    file.commit(); // on any failure the file's destructor drops the temporary file
}

QString DefaultResourceDir() {
    const QString besideProgram =
        QCoreApplication::applicationDirPath() + QStringLiteral("/Resource");
    if (QFileInfo(besideProgram).isDir()) return besideProgram;
    const QString installed =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/treelan/Resource");
    if (QFileInfo(installed).isDir()) return QDir::cleanPath(installed);
    return besideProgram;
}

} // namespace treelan
