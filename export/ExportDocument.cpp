#include "export/ExportDocument.h"

#include "export/Formats.h"
#include "export/TreeWriter.h"
#include "platform/FileError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace treelan {

namespace {

void writeDocument(const ExportRequest& r, TreeWriter& writer, OutputBuffer& out) {
    WriteTree(r.rootPath, r.options, writer,
              r.exportTime.isValid() ? r.exportTime : QDateTime::currentDateTimeUtc(), r.source);
    out.flush();
}

} // namespace

void WriteExportDocument(const ExportRequest& request) {
    const ExportFormatInfo& format = ExportFormatOf(request.format);
    if (request.targetPath == QLatin1String("-")) {
        QFile out;
        const QString name = QStringLiteral("standard output");
        OutputBuffer buffer(out, name);
        // Everything the document needs is read before anything is written.
        const std::unique_ptr<TreeWriter> writer = format.makeWriter(request, buffer);
        if (!out.open(stdout, QIODevice::WriteOnly)) throw FileError(name, out.errorString());
        writeDocument(request, *writer, buffer);
        if (!out.flush()) throw FileError(name, out.errorString());
        return;
    }

    const QString target = QFileInfo(request.targetPath).absoluteFilePath();
    QSaveFile file(target);
    OutputBuffer buffer(file, target);
    const std::unique_ptr<TreeWriter> writer = format.makeWriter(request, buffer);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(target, QStringLiteral("cannot create the file: ") + file.errorString());
    try {
        writeDocument(request, *writer, buffer);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit())
        throw FileError(target, QStringLiteral("cannot save the file: ") + file.errorString());
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
