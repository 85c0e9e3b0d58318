#include "export/PageWriter.h"

#include "settings/StringTable.h"

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
    page.exported = info.exportTime.toSecsSinceEpoch();
    m_writer = std::make_unique<WebPageWriter>(m_out, m_page, std::move(page));
    m_writer->begin();
}

void PageWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    m_writer->enterFolder(folder.depth == 0 ? QString() : folder.name.toString());
    if (folder.depth > 0 && !folder.listed) {
        const bool unreadable = !folder.error.isEmpty() && !folder.repeat;
        m_writer->markFolder(unreadable ? PageData::FolderState::Unreadable
                                        : PageData::FolderState::NotEntered,
                             folder.error);
    }
}

void PageWriter::file(const ExportEntry& f) {
    const Mp3Fields* mp3 = f.mp3;
    const bool timed = mp3 && mp3->seconds >= 0;
    m_writer->file(f.name.toString(), f.examined() ? f.size : -1, f.unixTime(),
                   timed ? mp3->seconds * 1000 : 0, mp3 ? mp3->kbps : 0, f.media);
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
    const auto with = [](Str key, const QString& value) { return GetGuiString(key).arg(value); };
    for (const PathPattern& p : walk.excludePatterns)
        texts << with(Str::PageLeaveOut, QString::fromUtf8(p.text()));
    for (const PathPattern& p : walk.includePatterns)
        texts << with(Str::PageOnly, QString::fromUtf8(p.text()));
    if (walk.noHidden) texts << GetGuiString(Str::PageNoHidden);
    if (walk.maxDepth >= 0) texts << with(Str::PageMaxDepth, QString::number(walk.maxDepth));
    if (walk.oneFileSystem) texts << GetGuiString(Str::PageOneFileSystem);
    // The removed or selected entries by name, the first few of them: the window can pass
    // thousands.
    const auto named = [&texts, &with](Str key, const PathSet& set) {
        QStringList paths;
        for (const QSet<QByteArray>* part : {&set.folders(), &set.files()})
            for (const QByteArray& raw : *part)
                paths << QString::fromUtf8(raw);
        if (paths.isEmpty()) return;
        paths.sort();
        constexpr qsizetype kShown = 5;
        const qsizetype more = paths.size() - kShown;
        if (more > 0) paths.resize(kShown);
        QString list = paths.join(QStringLiteral(", "));
        if (more > 0) list += QLatin1Char(' ') + with(Str::PageMore, QString::number(more));
        texts << with(key, list);
    };
    if (options.selectedOnly) named(Str::PageOnly, options.selected);
    named(Str::PageLeaveOut, options.removed);
    return texts;
}

} // namespace treelan
