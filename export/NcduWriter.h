#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

namespace treelan {

// ncdu's JSON export (format 1.2, as ncdu 1.18 writes with -o): [1, 2, {metadata}, [root, ...]],
// a folder an array headed by its own entry. Names are the raw bytes, as ncdu writes and reads
// them; MP3 figures ride along as extra keys, which ncdu and gdu pass over.
class NcduWriter final : public TreeWriter {
public:
    NcduWriter(const ExportRequest& request, OutputBuffer& out);

    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals& rootTotals) override;
    // ncdu sorts as its reader asks; its own export is in directory order too.
    bool wantsSortedEntries() const override { return false; }

private:
    void entry(const ExportEntry& e, QByteArrayView name);

    OutputBuffer& m_out;
    QByteArray m_rawRoot;
};

} // namespace treelan
