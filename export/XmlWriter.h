#pragma once

#include "export/ExportDocument.h"
#include "export/TreeWriter.h"

namespace treelan {

// The generic XML form's elements: a <folder title="..."> per folder, closed after its files,
// and a <file title size date [length bitrate] /> per file. Frames nothing.
class XmlTreeWriter : public TreeWriter {
public:
    // `totals`: each folder element carries files, folders, bytes and length (playing time)
    // attributes of everything beneath it.
    explicit XmlTreeWriter(OutputBuffer& out, bool totals = false) : m_out(out), m_totals(totals) {}
    void beginDocument(const DocumentInfo&) override {}
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals&) override {}
    bool wantsTotalsFirst() const override { return m_totals; }

protected:
    // ` files="3" folders="1" bytes="1234" length="00:04:10"`, or nothing.
    void appendTotals(QByteArray& b, const FolderTotals* totals) const;

    OutputBuffer& m_out;
    bool m_totals;
};

// The whole XML document: the prolog, for the XML-with-template form the stylesheet line of the
// template the request names, and the <folders path="..."> element around the tree.
class XmlWriter final : public XmlTreeWriter {
public:
    XmlWriter(const ExportRequest& request, OutputBuffer& out);
    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void endDocument(const FolderTotals& rootTotals) override;

private:
    QString m_rootText;
    TemplateRequest m_templateRequest; // empty for the plain form
};

} // namespace treelan
