#include "export/NcduWriter.h"

#include "codec/Bytes.h"
#include "codec/TextEscape.h"
#include "format/EntryFormat.h"

#include <cstring>

namespace treelan {

NcduWriter::NcduWriter(const ExportRequest&, OutputBuffer& out) : m_out(out) {}

void NcduWriter::beginDocument(const DocumentInfo& info) {
    m_rawRoot = info.root.raw();
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "[1,2,{\"progname\":\"treelan\",\"progver\":");
    AppendJsonString(b, info.programVersion);
    AppendLiteral(b, ",\"timestamp\":");
    AppendSignedDecimal(b, info.exportTime.toSecsSinceEpoch());
    AppendLiteral(b, "}");
}

void NcduWriter::entry(const ExportEntry& e, QByteArrayView name) {
    QByteArray& b = m_out.buffer();
    AppendLiteral(b, "{\"name\":");
    AppendJsonBytes(b, name.data(), name.size());
    if (e.examined()) {
        // ncdu leaves out a zero size; so does this, so that a round trip through ncdu is
        // byte for byte the same tree.
        if (e.size > 0) {
            AppendLiteral(b, ",\"asize\":");
            AppendSignedDecimal(b, e.size);
        }
        AppendLiteral(b, ",\"mtime\":");
        AppendSignedDecimal(b, qMax<qint64>(0, e.unixTime()));
    }
    if (!e.examined() || !e.error.isEmpty()) AppendLiteral(b, ",\"read_error\":true");
    if (e.kind == DirEntry::Kind::Special || e.kind == DirEntry::Kind::Link)
        AppendLiteral(b, ",\"notreg\":true");
    if (const Mp3Fields* mp3 = e.mp3) {
        if (mp3->seconds >= 0) {
            AppendLiteral(b, ",\"mp3_duration\":");
            AppendSignedDecimal(b, mp3->seconds);
        }
        if (mp3->kbps > 0) {
            AppendLiteral(b, ",\"mp3_bitrate\":");
            AppendSignedDecimal(b, mp3->kbps);
            if (mp3->vbr)
                AppendLiteral(b, ",\"mp3_vbr\":true");
            else
                AppendLiteral(b, ",\"mp3_vbr\":false");
        }
    }
    // ncdu keeps keys it does not know; the media fields go by their table's names.
    if (e.media)
        for (const MediaFieldName& m : kMediaFieldNames) {
            const QString& value = (*e.media)[m.field];
            if (value.isEmpty()) continue;
            AppendLiteral(b, ",\"");
            AppendRaw(b, m.key, qsizetype(std::strlen(m.key)));
            AppendLiteral(b, "\":");
            AppendJsonString(b, value);
        }
    AppendChar(b, '}');
}

void NcduWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    AppendLiteral(m_out.buffer(), ",\n[");
    if (folder.depth == 0) {
        // The root goes by its full path, without the trailing "/" (but "/" itself).
        QByteArrayView name = m_rawRoot;
        if (name.size() > 1 && name.endsWith('/')) name.chop(1);
        entry(folder, name);
    } else {
        entry(folder, folder.rawName);
    }
    m_out.spill();
}

void NcduWriter::file(const ExportEntry& file) {
    AppendLiteral(m_out.buffer(), ",\n");
    entry(file, file.rawName);
    m_out.spill();
}

void NcduWriter::leaveFolder(const ExportEntry&, const FolderTotals&) {
    AppendChar(m_out.buffer(), ']');
    m_out.spill();
}

void NcduWriter::endDocument(const FolderTotals&) {
    AppendLiteral(m_out.buffer(), "]\n");
    m_out.spill();
}

} // namespace treelan
