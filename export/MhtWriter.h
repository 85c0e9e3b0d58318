#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

#include <array>

namespace treelan {

// The web page's collapsible tree: a list item per folder holding the list of its subfolders,
// and a table of its files when its entries were read. Frames nothing.
class HtmlTreeWriter : public TreeWriter {
public:
    explicit HtmlTreeWriter(OutputBuffer& out) : m_out(out) {}
    void beginDocument(const DocumentInfo&) override {}
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals&) override {}

protected:
    OutputBuffer& m_out;

private:
    bool m_tableOpen = false; // files come last in a folder, so one table is open at a time
};

// The single-file web archive (MIME multipart/related, boundary "x"): the XHTML page around the
// tree, then tree.css, tree.js, open.gif and close.gif from the Resource folder. The resources are
// read when the writer is made, before anything is written.
class MhtWriter final : public HtmlTreeWriter {
public:
    // Throws FileError naming a resource file that cannot be read.
    MhtWriter(const ExportRequest& request, OutputBuffer& out);
    void beginDocument(const DocumentInfo& info) override;
    void endDocument(const FolderTotals& rootTotals) override;

private:
    std::array<QByteArray, 4> m_resources;
};

} // namespace treelan
