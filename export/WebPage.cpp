#include "export/WebPage.h"

#include "TreelanConfig.h"
#include "codec/Base64.h"
#include "export/TreeWriter.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

WebPageWriter::WebPageWriter(OutputBuffer& out, const WebPageTemplate& page, WebPageInfo info)
    : m_out(out), m_page(page), m_info(std::move(info)) {}

WebPageWriter::~WebPageWriter() = default;

void WebPageWriter::begin() {
    m_exported = m_info.exported >= 0 ? m_info.exported : QDateTime::currentSecsSinceEpoch();
    QByteArray head = m_page.head;
    head.replace("@TITLE@",
                 Normalize(GetGuiString(Str::FolderListing) + QLatin1Char(' ') + m_info.rootPath));
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

void WebPageWriter::enterFolder(const QString& name) {
    m_open.push_back(m_data->addFolder(int(m_open.size()), name));
    m_sums.push_back(0);
}

void WebPageWriter::markFolder(PageData::FolderState state, const QString& reason) {
    m_data->setLastFolderState(state);
    if (!reason.isEmpty() && !m_open.empty())
        m_reasons.insert(QString::number(m_open.back()), reason);
}

void WebPageWriter::file(const QString& name, qint64 size, qint64 unixSeconds, qint64 durationMs,
                         int kbps, const MediaInfo* media) {
    if (size > kExactInScript)
        m_exactFiles.insert(QString::number(m_data->files()), decimal(ByteTotal(size)));
    m_data->addFile(m_open.empty() ? 0 : m_open.back(), name, size, unixSeconds, durationMs, kbps,
                    media);
    if (size > 0) {
        m_bytes += ByteTotal(size);
        if (!m_sums.empty()) m_sums.back() += ByteTotal(size);
    }
    if (durationMs > 0) m_ms += durationMs;
}

void WebPageWriter::leaveFolder() {
    if (m_open.empty()) return;
    const ByteTotal sum = m_sums.back();
    if (sum > ByteTotal(kExactInScript))
        m_exactFolders.insert(QString::number(m_open.back()), decimal(sum));
    m_open.pop_back();
    m_sums.pop_back();
    if (!m_sums.empty()) m_sums.back() += sum;
}

void WebPageWriter::end() {
    m_data->finish();
    QJsonObject strings;
    for (const Str key : kPageStrings)
        strings.insert(KeyText(key), GetGuiString(key));
    QJsonArray filters;
    for (const QString& f : m_info.filters)
        filters.append(f);
    QJsonObject meta{
        {"root", m_info.rootPath},
        {"exported", double(m_exported)},
        {"folders", double(m_data->folders())},
        {"files", double(m_data->files())},
        {"totals", QJsonObject{{"folders", double(std::max<qint64>(m_data->folders() - 1, 0))},
                               {"files", double(m_data->files())},
                               {"bytes", decimal(m_bytes)},
                               {"ms", double(m_ms)}}},
        // Page order numbers, as texts: "exact" sizes and totals, and "reasons" why a folder
        // holds nothing.
        {"exact", QJsonObject{{"files", m_exactFiles}, {"folders", m_exactFolders}}},
        {"reasons", m_reasons},
        {"options",
         QJsonObject{{"recursive", m_info.recursive}, {"mp3", m_info.mp3}, {"filters", filters}}},
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
    json.replace("<", "\\u003c").replace(">", "\\u003e");

    // Without script the page still tells what it holds.
    const QString exported =
        QDateTime::fromSecsSinceEpoch(m_exported)
            .toOffsetFromUtc(QDateTime::fromSecsSinceEpoch(m_exported).offsetFromUtc())
            .toString(Qt::ISODate);
    auto fact = [](Str key, const QString& value) {
        return "<span>" + Normalize(GetGuiString(key)) + " <b>" + Normalize(value) + "</b></span> ";
    };
    QString options = GetGuiString(Str::BrowseSubfolders) + QStringLiteral(": ") +
                      GetGuiString(m_info.recursive ? Str::PageYes : Str::PageNo) +
                      QStringLiteral(" \u00b7 ") + GetGuiString(Str::Mp3Info) +
                      QStringLiteral(": ") + GetGuiString(m_info.mp3 ? Str::PageYes : Str::PageNo);
    if (!m_info.filters.isEmpty())
        options += QStringLiteral(" \u00b7 ") + GetGuiString(Str::PageFilters) +
                   QStringLiteral(": ") + m_info.filters.join(QStringLiteral(", "));
    QByteArray& b = m_out.buffer();
    b.append("<script type=\"application/json\" id=\"treelan-meta\">")
        .append(json)
        .append("</script>\n");
    b.append("<noscript><header><h1>")
        .append(Normalize(m_info.rootPath))
        .append("</h1>\n<div class=\"facts\">");
    b.append(fact(Str::PageExported, exported));
    b.append(fact(Str::PageFolders, QString::number(std::max<qint64>(m_data->folders() - 1, 0))));
    b.append(fact(Str::PageFiles, QString::number(m_data->files())));
    b.append(fact(Str::PageTotalSize,
                  decimal(m_bytes) + QLatin1Char(' ') + GetGuiString(Str::PageBytes)));
    if (m_ms > 0) b.append(fact(Str::PagePlayingTime, clockText(m_ms)));
    b.append(fact(Str::PageOptions, options));
    b.append("</div></header>\n<p id=\"noscript\">")
        .append(Normalize(GetGuiString(Str::PageNeedsScript)))
        .append("</p></noscript>\n");
    b.append(m_page.tail);
    m_out.spill();
    m_data.reset();
}

} // namespace treelan
