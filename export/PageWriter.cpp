#include "export/PageWriter.h"

#include <QSet>

namespace treelan {

PageWriter::PageWriter(const ExportRequest& request, OutputBuffer& out)
    : m_out(out),
      m_page(WebPageTemplate::load(request.resourceDir + QStringLiteral("/page.html"))) {}

PageWriter::~PageWriter() = default;

void PageWriter::beginDocument(const DocumentInfo& info) {
    WebPageInfo page;
    page.rootPath = info.root.display();
    page.recursive = info.options.browseSubfolders;
    page.mp3 = info.options.mp3Info;
    page.filters = FilterTexts(info.options);
    m_writer = std::make_unique<WebPageWriter>(m_out, m_page, std::move(page));
    m_writer->begin();
}

void PageWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    m_writer->enterFolder(folder.depth == 0 ? QString() : folder.name.toString());
    if (folder.depth > 0 && !folder.listed)
        m_writer->markFolder(folder.error.isEmpty() ? PageData::FolderState::NotEntered
                                                    : PageData::FolderState::Unreadable);
}

void PageWriter::file(const ExportEntry& f) {
    const Mp3Fields* mp3 = f.mp3;
    const bool timed = mp3 && mp3->seconds >= 0;
    m_writer->file(f.name.toString(), f.examined() ? f.size : -1, f.unixTime(),
                   timed ? mp3->seconds * 1000 : 0, mp3 ? mp3->kbps : 0);
}

void PageWriter::leaveFolder(const ExportEntry&, const FolderTotals&) {
    m_writer->leaveFolder();
}

void PageWriter::endDocument(const FolderTotals&) {
    m_writer->end();
}

QStringList FilterTexts(const TreeOptions& options) {
    QStringList texts;
    const WalkOptions& walk = options.walk;
    for (const PathPattern& p : walk.excludePatterns)
        texts << QStringLiteral("leave out %1").arg(QString::fromUtf8(p.text()));
    for (const PathPattern& p : walk.includePatterns)
        texts << QStringLiteral("only %1").arg(QString::fromUtf8(p.text()));
    if (walk.noHidden) texts << QStringLiteral("no hidden names");
    if (walk.maxDepth >= 0) texts << QStringLiteral("depth at most %1").arg(walk.maxDepth);
    if (walk.oneFileSystem) texts << QStringLiteral("one file system");
    // The removed or selected entries by name, the first few of them: the window can pass
    // thousands.
    const auto named = [&texts](const QString& what, const PathSet& set) {
        QStringList paths;
        for (const QSet<QByteArray>* part : {&set.folders(), &set.files()})
            for (const QByteArray& raw : *part)
                paths << QString::fromUtf8(raw);
        if (paths.isEmpty()) return;
        paths.sort();
        constexpr qsizetype kShown = 5;
        const qsizetype more = paths.size() - kShown;
        if (more > 0) paths.resize(kShown);
        QString text = what + QStringLiteral(" ") + paths.join(QStringLiteral(", "));
        if (more > 0) text += QStringLiteral(" and %1 more").arg(more);
        texts << text;
    };
    if (options.selectedOnly) named(QStringLiteral("only"), options.selected);
    named(QStringLiteral("leave out"), options.removed);
    return texts;
}

} // namespace treelan
