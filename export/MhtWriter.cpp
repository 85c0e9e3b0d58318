#include "export/MhtWriter.h"

#include "TreelanConfig.h"
#include "codec/Base64.h"
#include "codec/Bytes.h"
#include "format/EntryFormat.h"
#include "platform/FileError.h"
#include "platform/ReadFile.h"
#include "settings/StringTable.h"

#include <QDir>

namespace treelan {

void HtmlTreeWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    if (folder.depth == 0) return; // the root is the page's outer list
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "<li class=\"clsHasKids\"><span>");
    const qsizetype at = b.size();
    AppendNormalized(b, folder.name);
    BreakDelimiter(b, at);
    AppendLiteral(b, "</span><ul>\r\n");
    m_out.spill();
}

void HtmlTreeWriter::file(const ExportEntry& f) {
    QByteArray& b = m_out.buffer();
    if (!m_tableOpen) {
        AppendLiteral(b, "<table>\r\n");
        m_tableOpen = true;
    }
    AppendLiteral(b, "<tr><td>");
    const qsizetype at = b.size();
    AppendNormalized(b, f.name);
    BreakDelimiter(b, at);
    AppendLiteral(b, "</td><td align=\"Right\">");
    if (f.examined()) AppendSizeText(b, f.size);
    AppendLiteral(b, "</td><td align=\"Right\">");
    if (f.examined()) AppendDateText(b, f.fileTime);
    AppendLiteral(b, "</td>");
    if (f.mp3 && !f.mp3->durationText.isEmpty())
        b.append("<td>").append(f.mp3->durationText.toLatin1()).append("</td>");
    if (f.mp3 && !f.mp3->bitrateText.isEmpty())
        b.append("<td>").append(f.mp3->bitrateText.toLatin1()).append("</td>");
    AppendLiteral(b, "</tr>\r\n");
    m_out.spill();
}

void HtmlTreeWriter::leaveFolder(const ExportEntry& folder, const FolderTotals&) {
    QByteArray& b = m_out.buffer();
    // A folder whose entries were read has its table, empty or not.
    if (folder.listed) {
        if (!m_tableOpen) AppendLiteral(b, "<table>\r\n");
        AppendLiteral(b, "</table>\r\n");
    }
    m_tableOpen = false;
    if (folder.depth > 0) AppendLiteral(b, "</ul></li>\r\n");
    m_out.spill();
}

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

} // namespace

MhtWriter::MhtWriter(const ExportRequest& request, OutputBuffer& out) : HtmlTreeWriter(out) {
    for (std::size_t i = 0; i < m_resources.size(); ++i)
        m_resources[i] = readResource(request.resourceDir, kResourceFiles[i]);
}

void MhtWriter::beginDocument(const DocumentInfo& info) {
    OutputBuffer& out = m_out;
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
                                      info.root.display()) +
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
}

void MhtWriter::endDocument(const FolderTotals&) {
    OutputBuffer& out = m_out;
    out.writeLine("</ul></body>\r\n</html>");
    out.writeLine("\r\n--x");
    const clsBase64 encoder;
    writeTextPart("text/css;Charset = \"utf-8\"", "tree.css", m_resources[0], encoder, out);
    out.writeLine("\r\n--x");
    writeTextPart("application/octet-stream", "tree.js", m_resources[1], encoder, out);
    out.writeLine("\r\n--x");
    const char* const images[] = {"open.gif", "close.gif"};
    for (int i = 0; i < 2; ++i) {
        if (i > 0) out.writeLine("--x");
        out.writeLine("Content-Type: application/octet-stream");
        out.writeLine("Content-Transfer-Encoding: base64");
        out.writeLine(QByteArray("Content-Location: ") + kArchiveBase + images[i] + "\r\n");
        out.writeLine(base64Lines(encoder, m_resources[std::size_t(2 + i)]));
    }
    out.writeLine("--x--");
}

} // namespace treelan
