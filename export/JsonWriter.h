#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

#include <vector>

namespace treelan {

// Treelan's own JSON (Resource/treelan-export.schema.json), streamed: a folder's entry is written
// when it is entered, its children as they come, its totals when it is left, so memory never
// grows with the tree.
class JsonWriter final : public TreeWriter {
public:
    JsonWriter(const ExportRequest& request, OutputBuffer& out);

    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals& rootTotals) override;

private:
    void openEntry(const ExportEntry& e, const char* kind);

    OutputBuffer& m_out;
    QByteArray m_rootName;     // the root folder's own name, the last part of its path
    std::vector<bool> m_first; // per open folder: no child written yet
};

// The options of a document as the JSON header's "options" object.
QByteArray JsonOptions(const ExportOptions& options, bool folderTotals);

} // namespace treelan
