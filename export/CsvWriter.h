#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

namespace treelan {

// One row per file under a header row: path, folder, name, size, modified, duration, bitrate,
// type, and with --media the media fields (kMediaFieldNames). CSV quotes as RFC 4180 says; TSV is
// the same with TAB between cells. Text cells that a spreadsheet would run as a formula get a
// leading apostrophe (see AppendCsvField). Rows end in CR LF.
class CsvWriter final : public TreeWriter {
public:
    CsvWriter(const ExportRequest& request, OutputBuffer& out);

    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry&, const FolderTotals*) override {}
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry&, const FolderTotals&) override {}
    void endDocument(const FolderTotals& rootTotals) override;

private:
    OutputBuffer& m_out;
    char m_separator;
    bool m_byteOrderMark;
    bool m_media = false;    // --media: a cell per media field after the type
    QByteArray m_rawFolder;  // the folder of the last file, as its bytes
    QByteArray m_folderText; // the same as UTF-8 (decoded when not valid UTF-8)
    QByteArray m_cell;
    QString m_lastType;
    QByteArray m_lastTypeUtf8;
};

} // namespace treelan
