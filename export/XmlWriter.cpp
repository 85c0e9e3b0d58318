#include "export/XmlWriter.h"

#include "codec/Bytes.h"
#include "format/EntryFormat.h"
#include "media/Mp3Info.h"

#include <cstring>

namespace treelan {

void XmlTreeWriter::enterFolder(const ExportEntry& folder, const FolderTotals* totals) {
    if (folder.depth == 0) return; // the root is the document's <folders> element
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "<folder title=\"");
    AppendNormalized(b, folder.name);
    AppendChar(b, '"');
    appendTotals(b, totals);
    AppendLiteral(b, ">\r\n");
    m_out.spill();
}

void XmlTreeWriter::appendTotals(QByteArray& b, const FolderTotals* totals) const {
    if (!m_totals || !totals) return;
    AppendLiteral(b, " files=\"");
    AppendDecimal(b, quint64(totals->files));
    AppendLiteral(b, "\" folders=\"");
    AppendDecimal(b, quint64(totals->folders));
    AppendLiteral(b, "\" bytes=\"");
    AppendByteTotal(b, totals->bytes);
    AppendLiteral(b, "\" length=\"");
    b.append(FormatDuration(totals->seconds).toLatin1());
    AppendChar(b, '"');
}

void XmlTreeWriter::file(const ExportEntry& f) {
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "<file title=\"");
    AppendNormalized(b, f.name);
    AppendLiteral(b, "\" size=\"");
    if (f.examined()) AppendSizeText(b, f.size);
    AppendLiteral(b, "\" date=\"");
    if (f.examined()) AppendDateText(b, f.fileTime);
    AppendChar(b, '"');
    if (f.mp3 && !f.mp3->durationText.isEmpty())
        b.append(" length=\"").append(f.mp3->durationText.toLatin1()).append('"');
    if (f.mp3 && !f.mp3->bitrateText.isEmpty())
        b.append(" bitrate=\"").append(f.mp3->bitrateText.toLatin1()).append('"');
    // Only with --media: without it the document stays as it always was.
    if (f.media)
        for (const MediaFieldName& m : kMediaFieldNames) {
            const QString& value = (*f.media)[m.field];
            if (value.isEmpty()) continue;
            AppendChar(b, ' ');
            AppendRaw(b, m.key, qsizetype(std::strlen(m.key)));
            AppendLiteral(b, "=\"");
            AppendNormalized(b, value);
            AppendChar(b, '"');
        }
    AppendLiteral(b, " />\r\n");
    m_out.spill();
}

void XmlTreeWriter::leaveFolder(const ExportEntry& folder, const FolderTotals&) {
    if (folder.depth == 0) return;
    AppendLiteral(m_out.buffer(), "</folder>\r\n\r\n");
    m_out.spill();
}

XmlWriter::XmlWriter(const ExportRequest& request, OutputBuffer& out)
    : XmlTreeWriter(out, request.folderTotals) {
    if (request.format == ExportFormat::XmlWithTemplate)
        m_templateRequest = request.templateRequest;
}

void XmlWriter::beginDocument(const DocumentInfo& info) {
    m_out.writeLine("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    if (m_templateRequest) {
        m_out.flush(); // the request may take a while (a dialog); what is written so far is kept
        const QString name = m_templateRequest();
        if (!name.isEmpty())
            m_out.writeLine("<?xml-stylesheet type=\"text/xsl\" href=\"" + Normalize(name) +
                            ".xsl\"?>");
    }
    m_rootText = info.root.display();
}

void XmlWriter::enterFolder(const ExportEntry& folder, const FolderTotals* totals) {
    if (folder.depth > 0) {
        XmlTreeWriter::enterFolder(folder, totals);
        return;
    }
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "<folders path=\"");
    AppendNormalized(b, m_rootText);
    AppendChar(b, '"');
    appendTotals(b, totals);
    AppendLiteral(b, ">\r\n\r\n");
    m_out.spill();
}

void XmlWriter::endDocument(const FolderTotals&) {
    m_out.writeLine("</folders>");
}

} // namespace treelan
