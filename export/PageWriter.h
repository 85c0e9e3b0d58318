#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"
#include "export/WebPage.h"

#include <memory>

namespace treelan {

// The interactive web page as an export form: the tree walk's calls, handed to the page's own
// writer. The page template is read when the writer is made, before the target is opened.
class PageWriter final : public TreeWriter {
public:
    PageWriter(const ExportRequest& request, OutputBuffer& out);
    ~PageWriter() override;

    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals& rootTotals) override;

private:
    OutputBuffer& m_out;
    WebPageTemplate m_page;
    std::unique_ptr<WebPageWriter> m_writer;
};

// The walk's options in the user's words, one text each, as the page's header lists them.
QStringList FilterTexts(const TreeOptions& options);

} // namespace treelan
