#pragma once

#include "export/ExportDocument.h"
#include "export/PageData.h"
#include "export/TreeWriter.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace treelan {

// The template (Resource/page.html) cut at its data marker, with its Content Security Policy
// filled in: the hashes of its one inline script and one style sheet are the only code allowed.
struct WebPageTemplate {
    QByteArray head; // up to the marker, @TITLE@ and @LANG@ still in it
    QByteArray tail; // the page's script and the end of the document
    // Throws FileError naming the file when it cannot be read or is not a page template.
    static WebPageTemplate load(const QString& path);
};

// Writes the interactive web page: a folder tree that the page's script shows, searches and
// sorts. Memory does not grow with the tree: the columns leave as compressed pieces. The page
// template is read when the writer is made, before the target is opened.
class WebPageWriter final : public TreeWriter {
public:
    WebPageWriter(const ExportRequest& request, OutputBuffer& out);
    ~WebPageWriter() override;

    void beginDocument(const DocumentInfo& info) override;
    void enterFolder(const ExportEntry& folder, const FolderTotals* totals) override;
    void file(const ExportEntry& file) override;
    void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) override;
    void endDocument(const FolderTotals& rootTotals) override;

private:
    // The page's facts for its script, and for a reader without script.
    QByteArray metaJson(const FolderTotals& rootTotals) const;
    QByteArray noscriptHeader(const FolderTotals& rootTotals) const;

    OutputBuffer& m_out;
    WebPageTemplate m_page;
    QString m_root; // as shown
    bool m_recursive = false;
    bool m_mp3 = false;
    QStringList m_filters; // in the user's words, one text each
    qint64 m_exported = 0; // seconds since 1970-01-01 UTC
    std::unique_ptr<PageData> m_data;
    std::vector<qint64> m_open; // folder numbers from the root to the current folder
    // What the page's doubles cannot hold exactly, as decimal texts by file or folder number;
    // and why folders hold no entries, by folder number. Few, so kept whole.
    QJsonObject m_exactFiles, m_exactFolders, m_reasons;
};

// The walk's options in the user's words, one text each, as the page's header lists them.
QStringList FilterTexts(const TreeOptions& options);

// The text of an interface string as a JSON string that cannot end a <script> element.
QByteArray JsonForScript(const QString& text);

} // namespace treelan
