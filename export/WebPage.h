#pragma once

#include "export/PageData.h"
#include "listing/EntryFormat.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace treelan {

class OutputBuffer;

// What the page's header tells besides the tree.
struct WebPageInfo {
    QString rootPath; // as shown
    bool recursive = false;
    bool mp3 = false;
    QStringList filters;  // the filters in the user's words, one text each
    qint64 exported = -1; // seconds since 1970 UTC; -1: when the writing begins
};

// The template (Resource/page.html) cut at its data marker, with its Content Security Policy
// filled in: the hashes of its one inline script and one style sheet are the only code allowed.
struct WebPageTemplate {
    QByteArray head; // up to the marker, @TITLE@ and @LANG@ still in it
    QByteArray tail; // the page's script and the end of the document
    // Throws FileError naming the file when it cannot be read or is not a page template.
    static WebPageTemplate load(const QString& path);
};

// Writes the interactive web page: a folder tree that the page's script shows, searches and
// sorts. Folders are entered and left depth first; a folder's files come together, before it is
// left. Memory does not grow with the tree: the columns leave as compressed pieces.
class WebPageWriter {
public:
    WebPageWriter(OutputBuffer& out, const WebPageTemplate& page, WebPageInfo info);
    ~WebPageWriter();

    void begin();
    void enterFolder(const QString& name);
    // The folder entered last could not be read (`reason` says why), or was not entered (not
    // recursive, or listed elsewhere: `reason` says where).
    void markFolder(PageData::FolderState state, const QString& reason = {});
    void file(const QString& name, qint64 size, qint64 unixSeconds, qint64 durationMs, int kbps,
              const MediaInfo* media = nullptr);
    void leaveFolder();
    void end();

private:
    OutputBuffer& m_out;
    const WebPageTemplate& m_page;
    WebPageInfo m_info;
    std::unique_ptr<PageData> m_data;
    std::vector<qint64> m_open;    // folder numbers from the root to the current folder
    std::vector<ByteTotal> m_sums; // bytes below each open folder
    ByteTotal m_bytes = 0;
    // What the page's doubles cannot hold exactly, as decimal texts by file or folder number;
    // and why folders hold no entries, by folder number. Few, so kept whole.
    QJsonObject m_exactFiles, m_exactFolders, m_reasons;
    qint64 m_ms = 0;
    qint64 m_exported = 0;
};

// The text of an interface string as a JSON string that cannot end a <script> element.
QByteArray JsonForScript(const QString& text);

} // namespace treelan
