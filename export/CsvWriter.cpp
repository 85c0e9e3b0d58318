#include "export/CsvWriter.h"

#include "codec/Bytes.h"
#include "codec/TextEscape.h"
#include "codec/Utf8.h"
#include "format/EntryFormat.h"

#include <cstring>

namespace treelan {

CsvWriter::CsvWriter(const ExportRequest& request, OutputBuffer& out)
    : m_out(out), m_separator(request.format == ExportFormat::Tsv ? '\t' : ','),
      m_byteOrderMark(request.byteOrderMark) {}

void CsvWriter::beginDocument(const DocumentInfo& info) {
    m_media = info.options.mediaInfo;
    QByteArray& b = m_out.buffer();
    if (m_byteOrderMark) AppendLiteral(b, "\xEF\xBB\xBF");
    const char* const names[] = {"path",     "folder",   "name",    "size",
                                 "modified", "duration", "bitrate", "type"};
    for (const char* name : names) {
        if (name != names[0]) AppendChar(b, m_separator);
        AppendRaw(b, name, qsizetype(std::strlen(name)));
    }
    if (m_media)
        for (const MediaFieldName& f : kMediaFieldNames) {
            AppendChar(b, m_separator);
            AppendRaw(b, f.key, qsizetype(std::strlen(f.key)));
        }
    AppendLiteral(b, "\r\n");
}

void CsvWriter::file(const ExportEntry& e) {
    // A folder's files come together: its text is made once for them.
    if (e.rawFolder != m_rawFolder || m_folderText.isNull()) {
        m_rawFolder = e.rawFolder.toByteArray();
        m_folderText = DecodesExactly(m_rawFolder) ? m_rawFolder : ToUTF8(e.folder);
        if (m_folderText.isNull()) m_folderText = QByteArray("");
    }
    QByteArray& b = m_out.buffer();
    const QByteArrayView raw = e.rawName;
    const QByteArray decoded =
        DecodesExactly(raw.data(), raw.size()) ? QByteArray() : ToUTF8(e.name);
    const QByteArrayView name = decoded.isNull() ? raw : QByteArrayView(decoded);
    // The path cell is folder and name in one: built once, then quoted and guarded as a whole.
    m_cell.truncate(0);
    AppendRaw(m_cell, m_folderText.constData(), m_folderText.size());
    AppendRaw(m_cell, name.data(), name.size());
    AppendCsvField(b, m_cell, m_separator);
    AppendChar(b, m_separator);
    AppendCsvField(b, m_folderText, m_separator);
    AppendChar(b, m_separator);
    AppendCsvField(b, name.data(), name.size(), m_separator);
    AppendChar(b, m_separator);
    if (e.examined()) {
        AppendSignedDecimal(b, e.size);
        AppendChar(b, m_separator);
        AppendIsoTime(b, e.fileTime);
    } else {
        AppendChar(b, m_separator);
    }
    AppendChar(b, m_separator);
    const Mp3Fields* mp3 = e.mp3;
    if (mp3 && mp3->seconds >= 0) AppendSignedDecimal(b, mp3->seconds);
    AppendChar(b, m_separator);
    if (mp3 && mp3->kbps > 0) AppendSignedDecimal(b, mp3->kbps);
    AppendChar(b, m_separator);
    // Type names repeat from file to file; their UTF-8 is kept for the last one.
    const QString type = TypeNameForFile(e.name.toString());
    if (!type.isSharedWith(m_lastType)) {
        m_lastType = type;
        m_lastTypeUtf8 = ToUTF8(type);
    }
    AppendCsvField(b, m_lastTypeUtf8, m_separator);
    if (m_media)
        for (std::size_t i = 0; i < kMediaFieldCount; ++i) {
            AppendChar(b, m_separator);
            if (e.media && !e.media->fields[i].isEmpty())
                AppendCsvField(b, ToUTF8(e.media->fields[i]), m_separator);
        }
    AppendLiteral(b, "\r\n");
    m_out.spill();
}

void CsvWriter::endDocument(const FolderTotals&) {
    m_out.spill();
}

} // namespace treelan
