// The text writers given arbitrary names. The input is names separated by NUL bytes (no name on
// disk holds one): the first names a subfolder of the root, the others are its files. Each
// format's document must parse in its own syntax and give every name back.
#include "FuzzCheck.h"

#include "codec/Utf8.h"
#include "export/Formats.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <vector>

using namespace treelan;

namespace {

struct Name {
    QByteArray raw;
    QString text; // as the walk decodes it
};

QByteArray writeDocument(ExportFormat format, const std::vector<Name>& names) {
    ExportRequest request;
    request.format = format;
    request.rootPath = RootPath::fromBytes("/fuzz/");
    request.resourceDir = QStringLiteral(TREELAN_SOURCE_DIR "/Resource");
    QBuffer device;
    device.open(QIODevice::WriteOnly);
    QByteArray bytes;
    {
        OutputBuffer out(device, QStringLiteral("fuzz"));
        const std::unique_ptr<TreeWriter> writer = ExportFormatOf(format).makeWriter(request, out);
        const DocumentInfo info{request.rootPath, QDateTime::fromSecsSinceEpoch(0, Qt::UTC),
                                QStringLiteral("0"), request.options};
        writer->beginDocument(info);
        ExportEntry root;
        root.kind = DirEntry::Kind::Folder;
        root.listed = true;
        FolderTotals totals;
        writer->enterFolder(root, &totals);
        ExportEntry folder = root;
        folder.name = names.front().text;
        folder.rawName = names.front().raw;
        folder.depth = 1;
        writer->enterFolder(folder, &totals);
        const QString folderText = names.front().text + QLatin1Char('/');
        const QByteArray rawFolder = names.front().raw + '/';
        for (std::size_t i = 1; i < names.size(); ++i) {
            ExportEntry file;
            file.name = names[i].text;
            file.rawName = names[i].raw;
            file.folder = folderText;
            file.rawFolder = rawFolder;
            file.depth = 2;
            file.size = qint64(i);
            file.fileTime = 116444736000000000; // 1970-01-01
            writer->file(file);
        }
        writer->leaveFolder(folder, totals);
        writer->leaveFolder(root, totals);
        writer->endDocument(totals);
        out.flush();
    }
    return device.data();
}

// The text a name has in the XML: control characters as their pictures, U+2400 + code, and the
// two noncharacters XML has no place for as U+FFFD.
QString withPictures(const QString& text) {
    QString shown = text;
    for (QChar& c : shown)
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
        else if (c.unicode() >= 0xFFFE)
            c = QChar::ReplacementCharacter;
    return shown;
}

// The text a name comes back as from UTF-8 output: what ToUTF8 writes, read back. A leading
// U+FEFF is the name's own (QString::fromUtf8 would drop it as a byte-order mark).
QString throughUtf8(const QString& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(ToUTF8(text));
}

void checkXml(const std::vector<Name>& names) {
    QXmlStreamReader xml(writeDocument(ExportFormat::GenericXml, names));
    QStringList titles;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() != QLatin1String("folders"))
            titles << xml.attributes().value(QStringLiteral("title")).toString();
    FUZZ_CHECK(!xml.hasError(), "the XML parses");
    FUZZ_CHECK(titles.size() == qsizetype(names.size()), "one element per entry");
    for (std::size_t i = 0; i < names.size(); ++i)
        FUZZ_CHECK(titles[qsizetype(i)] == throughUtf8(withPictures(names[i].text)),
                   "the XML gives the name back");
}

QByteArray percentDecoded(const QString& text) {
    return QByteArray::fromPercentEncoding(text.toLatin1());
}

// Qt's JSON reader drops U+FEFF that opens a string, unless the string holds an escape (other
// readers keep it, as RFC 8259 says): names are compared without one.
QString asQtJsonReads(const QString& text) {
    qsizetype marks = 0;
    while (marks < text.size() && text[marks] == QChar(0xFEFF))
        ++marks;
    return text.mid(marks);
}

void checkJsonEntry(const QJsonObject& entry, const Name& name, const QByteArray& rawPath) {
    FUZZ_CHECK(asQtJsonReads(entry.value(u"name").toString()) ==
                   asQtJsonReads(throughUtf8(name.text)),
               "the JSON gives the name back");
    if (DecodesExactly(name.raw)) {
        FUZZ_CHECK(!entry.contains(u"rawName"), "no raw name for valid UTF-8");
    } else {
        FUZZ_CHECK(percentDecoded(entry.value(u"rawName").toString()) == name.raw,
                   "the raw name gives the bytes back");
        FUZZ_CHECK(percentDecoded(entry.value(u"rawPath").toString()) == rawPath,
                   "the raw path gives the bytes back");
    }
}

void checkJson(const std::vector<Name>& names) {
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(writeDocument(ExportFormat::Json, names), &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError, "the JSON parses");
    const QJsonArray top = doc.object().value(u"root").toObject().value(u"children").toArray();
    FUZZ_CHECK(top.size() == 1, "the root holds the folder");
    const QJsonObject folder = top.first().toObject();
    const QByteArray rawFolder = names.front().raw + '/';
    checkJsonEntry(folder, names.front(), rawFolder);
    const QJsonArray files = folder.value(u"children").toArray();
    FUZZ_CHECK(files.size() == qsizetype(names.size() - 1), "the folder holds its files");
    for (std::size_t i = 1; i < names.size(); ++i)
        checkJsonEntry(files[qsizetype(i - 1)].toObject(), names[i], rawFolder + names[i].raw);
}

// RFC 4180 rows: cells split at the separator, quoted cells with doubled quotes, rows ended by
// CR LF outside quotes. False on anything else (a stray quote, an open quote at the end).
bool readCsv(const QByteArray& text, char separator, std::vector<std::vector<QByteArray>>& rows) {
    std::vector<QByteArray> row;
    QByteArray cell;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text[i] == '"' && cell.isEmpty()) {
            for (++i;; ++i) {
                if (i >= n) return false;
                if (text[i] != '"') {
                    cell += text[i];
                } else if (i + 1 < n && text[i + 1] == '"') {
                    cell += '"';
                    ++i;
                } else {
                    break;
                }
            }
            ++i;
            if (i < n && text[i] != separator && text[i] != '\r') return false;
            if (cell.isEmpty()) cell = ""; // quoted, empty: still a cell
            continue;
        }
        if (text[i] == separator) {
            row.push_back(cell);
            cell.clear();
            ++i;
        } else if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') {
            row.push_back(cell);
            cell.clear();
            rows.push_back(std::move(row));
            row.clear();
            i += 2;
        } else if (text[i] == '"' || text[i] == '\r' || text[i] == '\n') {
            return false;
        } else {
            cell += text[i++];
        }
    }
    return row.empty() && cell.isEmpty();
}

// The cell a text is written as, read back: a leading apostrophe guards cells that a
// spreadsheet would take for a formula.
QByteArray unguarded(const QByteArray& cell) {
    return cell.startsWith('\'') ? cell.mid(1) : cell;
}

bool wantsGuard(const QByteArray& text) {
    if (text.isEmpty()) return false;
    const char c = text[0];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r' || c == '\'';
}

void checkCsv(const std::vector<Name>& names, ExportFormat format, char separator) {
    std::vector<std::vector<QByteArray>> rows;
    FUZZ_CHECK(readCsv(writeDocument(format, names), separator, rows), "the CSV parses");
    FUZZ_CHECK(rows.size() == names.size(), "a header and one row per file");
    const QByteArray folder = ToUTF8(names.front().text) + '/';
    for (std::size_t i = 1; i < names.size(); ++i) {
        const std::vector<QByteArray>& row = rows[i];
        FUZZ_CHECK(row.size() == 8, "eight cells a row");
        const QByteArray name = ToUTF8(names[i].text);
        const QByteArray cells[] = {folder + name, folder, name};
        for (std::size_t c = 0; c < 3; ++c) {
            FUZZ_CHECK(row[c].startsWith('\'') == wantsGuard(cells[c]),
                       "a guard exactly where a formula could start");
            FUZZ_CHECK(unguarded(row[c]) == cells[c], "the cell gives the text back");
        }
    }
}

void checkArchive(const std::vector<Name>& names) {
    static const qsizetype delimiters =
        writeDocument(ExportFormat::WebArchive, {Name{"a", QStringLiteral("a")}}).count("--x");
    FUZZ_CHECK(writeDocument(ExportFormat::WebArchive, names).count("--x") == delimiters,
               "no name makes a MIME delimiter");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    std::vector<Name> names;
    for (const QByteArray& raw : input.split('\0')) {
        if (names.size() == 16) break;
        names.push_back({raw, DecodeFileName(raw)});
    }
    checkXml(names);
    checkJson(names);
    checkCsv(names, ExportFormat::Csv, ',');
    checkCsv(names, ExportFormat::Tsv, '\t');
    checkArchive(names);
    return 0;
}
