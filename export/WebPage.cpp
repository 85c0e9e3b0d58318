#include "export/WebPage.h"

#include "TreelanConfig.h"
#include "codec/Base64.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace treelan {

namespace {

const char kDataMarker[] = "<!--@DATA@-->";

// The texts of the page's script and header, and the column names of the file table.
const Str kPageStrings[] = {Str::FolderListing,
                            Str::Name,
                            Str::Folder,
                            Str::Size,
                            Str::Date,
                            Str::Type,
                            Str::Duration,
                            Str::Bitrate,
                            Str::BrowseSubfolders,
                            Str::Mp3Info,
                            Str::WebPage,
                            Str::PageSearch,
                            Str::PageSearchHelp,
                            Str::PageExpandAll,
                            Str::PageCollapseAll,
                            Str::PageIncludeSubfolders,
                            Str::PageFiles,
                            Str::PageFolders,
                            Str::PageTotalSize,
                            Str::PagePlayingTime,
                            Str::PageExported,
                            Str::PageOptions,
                            Str::PageFilters,
                            Str::PageYes,
                            Str::PageNo,
                            Str::PageBytes,
                            Str::PageFileCount,
                            Str::PageFoundCount,
                            Str::PageLoading,
                            Str::PageDataError,
                            Str::PageNeedsScript};

// The content of the one element `<tag>...</tag>` without attributes; empty when there is none.
QByteArray elementText(const QByteArray& page, const QByteArray& tag) {
    const QByteArray open = '<' + tag + '>';
    const qsizetype start = page.indexOf(open);
    if (start < 0 || page.indexOf(open, start + 1) >= 0) return {};
    const qsizetype end = page.indexOf("</" + tag + '>', start);
    return end < 0 ? QByteArray() : page.mid(start + open.size(), end - start - open.size());
}

QByteArray sha256Source(const QByteArray& text) {
    return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() +
           '\'';
}

// Numbers above this lose digits in the page script's doubles.
constexpr qint64 kExactInScript = (qint64(1) << 53) - 1;

QString decimal(ByteTotal value) {
    QByteArray digits;
    AppendByteTotal(digits, value);
    return QString::fromLatin1(digits);
}

QString clockText(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QByteArray JsonForScript(const QString& text) {
    QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    json = json.mid(1, json.size() - 2);
    // "<" and ">" occur only inside strings, where their escapes mean the same: no "</script>"
    // or "<!--" can appear in the element.
    return json.replace("<", "\\u003c").replace(">", "\\u003e");
}

WebPageTemplate WebPageTemplate::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(path,
                        QStringLiteral("cannot read the page template: ") + file.errorString());
    const QByteArray page = file.readAll();
    const qsizetype marker = page.indexOf(kDataMarker);
    const QByteArray script = elementText(page, "script");
    const QByteArray style = elementText(page, "style");
    if (marker < 0 || script.isEmpty() || style.isEmpty() || page.indexOf("@CSP@") < 0)
        throw FileError(path, QStringLiteral("not a page template: it needs one <style>, one "
                                             "<script>, @CSP@ and the data marker"));
    // No network at all: nothing loads but the page itself, and only its own script runs.
    const QByteArray csp = "default-src 'none'; script-src " + sha256Source(script) +
                           "; style-src " + sha256Source(style) +
                           "; img-src data:; base-uri 'none'; form-action 'none'";
    WebPageTemplate t;
    t.head = page.left(marker);
    t.head.replace("@CSP@", csp);
    t.head.replace("@GENERATOR@", "treelan " TREELAN_VERSION " (" TREELAN_HOME_PAGE ")");
    t.tail = page.mid(marker + qsizetype(sizeof kDataMarker - 1));
    return t;
}

WebPageWriter::WebPageWriter(const ExportRequest& request, OutputBuffer& out)
    : m_out(out),
      m_page(WebPageTemplate::load(request.resourceDir + QStringLiteral("/page.html"))) {}

WebPageWriter::~WebPageWriter() = default;

void WebPageWriter::beginDocument(const DocumentInfo& info) {
    m_root = info.root.display();
    m_recursive = info.options.browseSubfolders;
    m_mp3 = info.options.mp3Info;
    m_filters = FilterTexts(info.options);
    m_exported = info.exportTime.toSecsSinceEpoch();
    QByteArray head = m_page.head;
    head.replace("@TITLE@",
                 Normalize(GetGuiString(Str::FolderListing) + QLatin1Char(' ') + m_root));
    head.replace("@LANG@", "en");
    m_out.write(head);
    m_data = std::make_unique<PageData>([this](int column, const QByteArray& bytes) {
        const clsBase64 base64;
        QByteArray text;
        base64.Encode(bytes, text);
        QByteArray& b = m_out.buffer();
        b.append("<script type=\"application/octet-stream\" data-c=\"")
            .append(PageData::columnName(column))
            .append("\">")
            .append(text)
            .append("</script>\n");
        m_out.spill();
    });
}

void WebPageWriter::enterFolder(const ExportEntry& folder, const FolderTotals*) {
    m_open.push_back(m_data->addFolder(int(m_open.size()),
                                       folder.depth == 0 ? QString() : folder.name.toString()));
    if (folder.depth == 0 || folder.listed) return;
    // Not read (`error` says why), or not entered: not recursive, or listed elsewhere (`error`
    // says where).
    const bool unreadable = !folder.error.isEmpty() && !folder.repeat;
    m_data->setLastFolderState(unreadable ? PageData::FolderState::Unreadable
                                          : PageData::FolderState::NotEntered);
    if (!folder.error.isEmpty()) m_reasons.insert(QString::number(m_open.back()), folder.error);
}

void WebPageWriter::file(const ExportEntry& f) {
    const Mp3Fields* mp3 = f.mp3;
    const bool timed = mp3 && mp3->seconds >= 0;
    const qint64 size = f.examined() ? f.size : -1;
    if (size > kExactInScript)
        m_exactFiles.insert(QString::number(m_data->files()), decimal(ByteTotal(size)));
    m_data->addFile(m_open.empty() ? 0 : m_open.back(), f.name.toString(), size, f.unixTime(),
                    timed ? mp3->seconds * 1000 : 0, mp3 ? mp3->kbps : 0, f.media);
}

void WebPageWriter::leaveFolder(const ExportEntry&, const FolderTotals& totals) {
    if (m_open.empty()) return;
    if (totals.bytes > ByteTotal(kExactInScript))
        m_exactFolders.insert(QString::number(m_open.back()), decimal(totals.bytes));
    m_open.pop_back();
}

void WebPageWriter::endDocument(const FolderTotals& rootTotals) {
    m_data->finish();
    QByteArray& b = m_out.buffer();
    b.append("<script type=\"application/json\" id=\"treelan-meta\">")
        .append(metaJson(rootTotals))
        .append("</script>\n");
    b.append(noscriptHeader(rootTotals));
    b.append(m_page.tail);
    m_out.spill();
    m_data.reset();
}

QByteArray WebPageWriter::metaJson(const FolderTotals& rootTotals) const {
    QJsonObject strings;
    for (const Str key : kPageStrings)
        strings.insert(KeyText(key), GetGuiString(key));
    QJsonArray filters;
    for (const QString& f : m_filters)
        filters.append(f);
    QJsonObject meta{
        {"root", m_root},
        {"exported", double(m_exported)},
        {"folders", double(m_data->folders())},
        {"files", double(m_data->files())},
        {"totals", QJsonObject{{"folders", double(rootTotals.folders)},
                               {"files", double(rootTotals.files)},
                               {"bytes", decimal(rootTotals.bytes)},
                               {"ms", double(rootTotals.seconds * 1000)}}},
        // Page order numbers, as texts: "exact" sizes and totals, and "reasons" why a folder
        // holds nothing.
        {"exact", QJsonObject{{"files", m_exactFiles}, {"folders", m_exactFolders}}},
        {"reasons", m_reasons},
        {"options", QJsonObject{{"recursive", m_recursive}, {"mp3", m_mp3}, {"filters", filters}}},
        {"strings", strings}};
    // The media columns' headings, from the one table of their names; only when some file has
    // media fields, so a page without them is what it was.
    if (m_data->hasMedia()) {
        QJsonArray headings;
        for (const MediaFieldName& f : kMediaFieldNames)
            headings.append(QLatin1String(f.heading));
        meta.insert(QStringLiteral("media"), headings);
    }
    QByteArray json = QJsonDocument(meta).toJson(QJsonDocument::Compact);
    return json.replace("<", "\\u003c").replace(">", "\\u003e");
}

QByteArray WebPageWriter::noscriptHeader(const FolderTotals& rootTotals) const {
    const QString exported =
        QDateTime::fromSecsSinceEpoch(m_exported)
            .toOffsetFromUtc(QDateTime::fromSecsSinceEpoch(m_exported).offsetFromUtc())
            .toString(Qt::ISODate);
    auto fact = [](Str key, const QString& value) {
        return "<span>" + Normalize(GetGuiString(key)) + " <b>" + Normalize(value) + "</b></span> ";
    };
    QString options = GetGuiString(Str::BrowseSubfolders) + QStringLiteral(": ") +
                      GetGuiString(m_recursive ? Str::PageYes : Str::PageNo) +
                      QStringLiteral(" \u00b7 ") + GetGuiString(Str::Mp3Info) +
                      QStringLiteral(": ") + GetGuiString(m_mp3 ? Str::PageYes : Str::PageNo);
    if (!m_filters.isEmpty())
        options += QStringLiteral(" \u00b7 ") + GetGuiString(Str::PageFilters) +
                   QStringLiteral(": ") + m_filters.join(QStringLiteral(", "));
    QByteArray b("<noscript><header><h1>");
    b.append(Normalize(m_root)).append("</h1>\n<div class=\"facts\">");
    b.append(fact(Str::PageExported, exported));
    b.append(fact(Str::PageFolders, QString::number(rootTotals.folders)));
    b.append(fact(Str::PageFiles, QString::number(rootTotals.files)));
    b.append(fact(Str::PageTotalSize,
                  decimal(rootTotals.bytes) + QLatin1Char(' ') + GetGuiString(Str::PageBytes)));
    if (rootTotals.seconds > 0)
        b.append(fact(Str::PagePlayingTime, clockText(rootTotals.seconds * 1000)));
    b.append(fact(Str::PageOptions, options));
    b.append("</div></header>\n<p id=\"noscript\">")
        .append(Normalize(GetGuiString(Str::PageNeedsScript)))
        .append("</p></noscript>\n");
    return b;
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
