#include "export/ExportDocument.h"

#include "TreelanConfig.h"
#include "codec/Base64.h"
#include "codec/Utf8.h"
#include "export/TreeWriter.h"
#include "platform/FileError.h"
#include "platform/ReadFile.h"
#include "settings/StringTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace treelan {

void WriteWebPageInterim(const RootPath& root, const QString& resourceDir,
                         const ExportOptions& options, OutputBuffer& out);

namespace {

const char* const kResourceFiles[] = {"tree.css", "tree.js", "open.gif", "close.gif"};

QByteArray readResource(const QString& dir, const char* name) {
    return ReadWholeFile(QDir(dir).filePath(QLatin1String(name)), QStringLiteral("resource file"));
}

// A text resource's lines, each ended by CR LF: a line ends at CR or CR LF; a lone LF stays in
// the line.
QByteArray textLines(const QByteArray& text) {
    QByteArray b;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = text.indexOf('\r', start);
        if (end < 0) end = n;
        b.append(text.constData() + start, end - start).append("\r\n");
        start = end + 1;
        if (end < n && start < n && text[start] == '\n') ++start;
    }
    return b;
}

// Chromium finds an archive's parts only by an absolute Content-Location (a relative one is
// never resolved). The page's own location is the base its relative links resolve against; the
// host is one that can never be reached, so nothing is ever fetched from outside the archive.
const char kArchiveBase[] = "http://treelan.invalid/";

QByteArray base64Lines(const clsBase64& encoder, const QByteArray& bytes) {
    QByteArray encoded, lines;
    encoder.Encode(bytes, encoded);
    encoder.ByteArrayToString(encoded, lines);
    return lines;
}

// A text resource as its lines; one that holds the delimiter "--x" goes base64-encoded instead.
void writeTextPart(const char* type, const char* name, const QByteArray& text,
                   const clsBase64& encoder, OutputBuffer& out) {
    const QByteArray lines = textLines(text);
    const bool encoded = lines.contains("--x");
    out.writeLine(QByteArray("Content-Type: ") + type);
    if (encoded) out.writeLine("Content-Transfer-Encoding: base64");
    out.writeLine(QByteArray("Content-Location: ") + kArchiveBase + name + "\r\n");
    out.write(encoded ? base64Lines(encoder, lines) : lines);
}

void writeXml(const ExportRequest& r, OutputBuffer& out) {
    out.writeLine("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    if (r.format == ExportFormat::XmlWithTemplate && r.templateRequest) {
        out.flush(); // the request may take a while (a dialog); what is written so far is kept
        const QString name = r.templateRequest();
        if (!name.isEmpty())
            out.writeLine("<?xml-stylesheet type=\"text/xsl\" href=\"" + Normalize(name) +
                          ".xsl\"?>");
    }
    out.writeLine("<folders path=\"" + Normalize(r.rootPath.display()) + "\">");
    out.writeLine("");
    Export(r.rootPath, TreeForm::Xml, r.options, out);
    out.writeLine("</folders>");
}

void writeWebArchive(const ExportRequest& r, const QByteArray resources[4], OutputBuffer& out) {
    out.writeLine("MIME-Version: 1.0\r\n"
                  "Content-Type: multipart/related; boundary=\"x\"\r\n"
                  "\r\n"
                  "--x\r\n"
                  "Content-Type: text/html;charset=\"utf-8\"");
    out.writeLine(QByteArray("Content-Location: ") + kArchiveBase + "tree.htm");
    out.writeLine("");
    out.writeLine("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    out.writeLine("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\"");
    out.writeLine("       \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">");
    out.writeLine("<html xmlns=\"http://www.w3.org/1999/xhtml\">");
    out.writeLine("<head>");
    out.writeLine("  <meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />");
    out.writeLine("  <title>" +
                  NormalizeForArchive(GetGuiString(Str::FolderListing) + QLatin1Char(' ') +
                                      r.rootPath.display()) +
                  "</title>");
    out.writeLine("  <meta name=\"generator\" content=\"treelan (" TREELAN_HOME_PAGE ")\" />");
    out.writeLine("</head>");
    out.writeLine("<body>");
    out.writeLine("<link rel=\"stylesheet\" type=\"text/css\" href=\"tree.css\"/>");
    out.writeLine(
        "<script type=\"text/javascript\" language=\"javascript\" src=\"tree.js\"></script>");
    out.writeLine("<br/><br/>");
    out.writeLine("<A class=\"clsButton\" href=\"#+\" onclick=\"ShowAll('UL')\">" +
                  NormalizeForArchive(GetGuiString(Str::ShowAll)) + "</A>");
    out.writeLine("<A class=\"clsButton\" href=\"#-\" onclick=\"HideAll('UL')\">" +
                  NormalizeForArchive(GetGuiString(Str::HideAll)) + "</A>");
    out.writeLine("<br/><br/><ul>");
    Export(r.rootPath, TreeForm::Html, r.options, out);
    out.writeLine("</ul></body>\r\n</html>");
    out.writeLine("\r\n--x");
    const clsBase64 encoder;
    writeTextPart("text/css;Charset = \"utf-8\"", "tree.css", resources[0], encoder, out);
    out.writeLine("\r\n--x");
    writeTextPart("application/octet-stream", "tree.js", resources[1], encoder, out);
    out.writeLine("\r\n--x");
    const char* const images[] = {"open.gif", "close.gif"};
    for (int i = 0; i < 2; ++i) {
        if (i > 0) out.writeLine("--x");
        out.writeLine("Content-Type: application/octet-stream");
        out.writeLine("Content-Transfer-Encoding: base64");
        out.writeLine(QByteArray("Content-Location: ") + kArchiveBase + images[i] + "\r\n");
        out.writeLine(base64Lines(encoder, resources[2 + i]));
    }
    out.writeLine("--x--");
}

void writeDocument(const ExportRequest& r, const QByteArray resources[4], QIODevice& device,
                   const QString& displayName) {
    OutputBuffer out(device, displayName);
    if (r.format == ExportFormat::WebPage)
        WriteWebPageInterim(r.rootPath, r.resourceDir, r.options, out);
    else if (r.format == ExportFormat::WebArchive)
        writeWebArchive(r, resources, out);
    else
        writeXml(r, out);
    out.flush();
}

} // namespace

void WriteExportDocument(const ExportRequest& request) {
    // Everything the document needs is read before the target is touched.
    QByteArray resources[4];
    if (request.format == ExportFormat::WebArchive)
        for (int i = 0; i < 4; ++i)
            resources[i] = readResource(request.resourceDir, kResourceFiles[i]);

    if (request.targetPath == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            throw FileError(QStringLiteral("standard output"), out.errorString());
        writeDocument(request, resources, out, QStringLiteral("standard output"));
        if (!out.flush()) throw FileError(QStringLiteral("standard output"), out.errorString());
        return;
    }

    const QString target = QFileInfo(request.targetPath).absoluteFilePath();
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(target, QStringLiteral("cannot create the file: ") + file.errorString());
    try {
        writeDocument(request, resources, file, target);
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
