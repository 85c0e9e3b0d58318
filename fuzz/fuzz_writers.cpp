// The text writers given arbitrary names. The input is names separated by NUL bytes (no name on
// disk holds one): the first names a subfolder of the root, the others are its files. Each
// format's document must parse in its own syntax and give every name back: XML, JSON, CSV, TSV,
// ncdu's JSON (raw bytes), the web page's data columns and the web archive's body.
#include "FuzzCheck.h"

#include "codec/Utf8.h"
#include "export/Formats.h"

#include <QBuffer>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <cstring>
#include <map>
#include <vector>
#include <zlib.h>

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

// ---- ncdu: a JSON document whose strings are bytes ----------------------------------------------

// A JSON value as ncdu's reader takes it: strings are byte strings (bytes from 0x20 up as they
// stand, escapes as RFC 8259 gives them), the rest as RFC 8259 says.
struct JsonValue {
    enum Kind { Literal, Number, String, Array, Object } kind = Literal;
    QByteArray text;              // the literal or number as written; the bytes of a string
    std::vector<JsonValue> items; // an array's items, an object's values
    std::vector<QByteArray> keys; // an object's keys, one per value

    const JsonValue* member(QByteArrayView key) const {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
};

class ByteJsonReader {
public:
    explicit ByteJsonReader(QByteArrayView text) : m_s(text) {}

    // The whole text is one value, blanks around it.
    bool document(JsonValue& value) { return parse(value, 0) && (blanks(), m_p == m_s.size()); }

private:
    bool parse(JsonValue& v, int depth) {
        blanks();
        if (m_p >= m_s.size() || depth > 64) return false;
        const char c = m_s[m_p];
        if (c == '"') {
            v.kind = JsonValue::String;
            return string(v.text);
        }
        if (c == '[' || c == '{') {
            const bool object = c == '{';
            v.kind = object ? JsonValue::Object : JsonValue::Array;
            ++m_p;
            blanks();
            if (m_p < m_s.size() && m_s[m_p] == (object ? '}' : ']')) return ++m_p, true;
            for (;;) {
                JsonValue item;
                if (object) {
                    QByteArray key;
                    blanks();
                    if (m_p >= m_s.size() || m_s[m_p] != '"' || !string(key) || !take(':'))
                        return false;
                    if (!parse(item, depth + 1)) return false;
                    v.keys.push_back(std::move(key));
                    v.items.push_back(std::move(item));
                } else {
                    if (!parse(item, depth + 1)) return false;
                    v.items.push_back(std::move(item));
                }
                if (take(',')) continue;
                return take(object ? '}' : ']');
            }
        }
        for (const char* literal : {"true", "false", "null"})
            if (m_s.sliced(m_p).startsWith(literal)) {
                v.text = literal;
                m_p += qsizetype(std::strlen(literal));
                return true;
            }
        return number(v);
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number(JsonValue& v) {
        const qsizetype start = m_p;
        const auto digits = [this] {
            const qsizetype from = m_p;
            while (m_p < m_s.size() && m_s[m_p] >= '0' && m_s[m_p] <= '9')
                ++m_p;
            return m_p - from;
        };
        if (m_p < m_s.size() && m_s[m_p] == '-') ++m_p;
        const qsizetype first = m_p;
        const qsizetype whole = digits();
        if (whole == 0 || (whole > 1 && m_s[first] == '0')) return false;
        if (m_p < m_s.size() && m_s[m_p] == '.' && (++m_p, digits() == 0)) return false;
        if (m_p < m_s.size() && (m_s[m_p] == 'e' || m_s[m_p] == 'E')) {
            ++m_p;
            if (m_p < m_s.size() && (m_s[m_p] == '+' || m_s[m_p] == '-')) ++m_p;
            if (digits() == 0) return false;
        }
        v.kind = JsonValue::Number;
        v.text = m_s.sliced(start, m_p - start).toByteArray();
        return true;
    }

    bool string(QByteArray& out) {
        ++m_p; // the opening quote
        while (m_p < m_s.size()) {
            const auto c = static_cast<unsigned char>(m_s[m_p++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (m_p >= m_s.size()) return false;
            const char e = m_s[m_p++];
            const char* const from = "\"\\/bfnrt";
            const char* const to = "\"\\/\b\f\n\r\t";
            if (const char* at = e ? std::strchr(from, e) : nullptr) {
                out += to[at - from];
                continue;
            }
            char32_t unit = 0;
            if (e != 'u' || !hex4(unit)) return false;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                char32_t low = 0;
                if (!take("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;
            }
            out += QString::fromUcs4(&unit, 1).toUtf8();
        }
        return false;
    }

    bool hex4(char32_t& unit) {
        if (m_p + 4 > m_s.size()) return false;
        bool ok = false;
        unit = m_s.sliced(m_p, 4).toByteArray().toUInt(&ok, 16);
        m_p += 4;
        return ok;
    }
    void blanks() {
        while (m_p < m_s.size() &&
               (m_s[m_p] == ' ' || m_s[m_p] == '\t' || m_s[m_p] == '\n' || m_s[m_p] == '\r'))
            ++m_p;
    }
    bool take(char c) {
        blanks();
        return m_p < m_s.size() && m_s[m_p] == c && (++m_p, true);
    }
    bool take(const char* text) {
        if (!m_s.sliced(m_p).startsWith(text)) return false;
        m_p += qsizetype(std::strlen(text));
        return true;
    }

    QByteArrayView m_s;
    qsizetype m_p = 0;
};

// [1, 2, {metadata}, [root, [folder, files...]]]: every name as its raw bytes, each file with
// its size; a document of valid UTF-8 reads alike with Qt's own JSON reader.
void checkNcdu(const std::vector<Name>& names) {
    const QByteArray text = writeDocument(ExportFormat::Ncdu, names);
    JsonValue doc;
    FUZZ_CHECK(ByteJsonReader(text).document(doc), "the ncdu export parses");
    FUZZ_CHECK(doc.kind == JsonValue::Array && doc.items.size() == 4, "four items at the top");
    FUZZ_CHECK(doc.items[0].text == "1" && doc.items[1].text == "2", "format 1.2");
    const JsonValue& tree = doc.items[3];
    FUZZ_CHECK(tree.kind == JsonValue::Array && tree.items.size() == 2, "the root and its folder");
    const JsonValue* rootName = tree.items[0].member("name");
    FUZZ_CHECK(rootName && rootName->text == "/fuzz", "the root by its path");
    const JsonValue& folder = tree.items[1];
    FUZZ_CHECK(folder.kind == JsonValue::Array && folder.items.size() == names.size(),
               "the folder's entry and its files");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const JsonValue& entry = folder.items[i];
        const JsonValue* name = entry.member("name");
        FUZZ_CHECK(entry.kind == JsonValue::Object && name && name->kind == JsonValue::String,
                   "an entry has a name");
        FUZZ_CHECK(name->text == names[i].raw, "the ncdu name gives the bytes back");
        if (i > 0) {
            const JsonValue* size = entry.member("asize");
            FUZZ_CHECK(size && size->text == QByteArray::number(qulonglong(i)),
                       "the size stays with its file");
        }
    }

    if (!DecodesExactly(text.constData(), std::size_t(text.size()))) return;
    QJsonParseError error;
    const QJsonArray qt = QJsonDocument::fromJson(text, &error).array();
    FUZZ_CHECK(error.error == QJsonParseError::NoError, "valid UTF-8: Qt reads it too");
    const QJsonArray entries = qt.at(3).toArray().at(1).toArray();
    for (std::size_t i = 0; i < names.size(); ++i)
        FUZZ_CHECK(asQtJsonReads(entries.at(qsizetype(i)).toObject().value(u"name").toString()) ==
                       asQtJsonReads(throughUtf8(names[i].text)),
                   "Qt reads the same name");
}

// ---- the web page: its data columns, read as the page's script reads them
// ------------------------

// One zlib stream, whole: it must end exactly where its bytes end (the page's DecompressionStream
// fails on bytes after the end).
bool inflateAll(const QByteArray& compressed, QByteArray& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    z.avail_in = uInt(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        char chunk[16384];
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - z.avail_out));
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && z.avail_in == 0;
}

// The page reads a text column with TextDecoder('utf-8', {ignoreBOM: true}): valid UTF-8 reads as
// written, an opening U+FEFF included, and NUL ends each name.
QStringList pageNames(const QByteArray& column) {
    FUZZ_CHECK(DecodesExactly(column.constData(), std::size_t(column.size())),
               "a text column is valid UTF-8");
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return QString(decoder.decode(column)).split(QChar(0));
}

// The unsigned LEB128 numbers of a column.
std::vector<quint64> pageNumbers(const QByteArray& column) {
    std::vector<quint64> numbers;
    quint64 value = 0;
    int shift = 0;
    for (const char c : column) {
        FUZZ_CHECK(shift < 64, "a number fits 64 bits");
        value |= quint64(uchar(c) & 0x7F) << shift;
        shift += 7;
        if (uchar(c) < 0x80) {
            numbers.push_back(value);
            value = 0;
            shift = 0;
        }
    }
    FUZZ_CHECK(shift == 0, "the last number is complete");
    return numbers;
}

void checkPage(const std::vector<Name>& names) {
    const QByteArray page = writeDocument(ExportFormat::WebPage, names);
    std::map<QByteArray, QByteArray> compressed;
    const QByteArray open = "<script type=\"application/octet-stream\" data-c=\"";
    for (qsizetype at = page.indexOf(open); at >= 0; at = page.indexOf(open, at)) {
        const qsizetype body = page.indexOf("\">", at) + 2;
        const qsizetype close = page.indexOf("</script>", body);
        FUZZ_CHECK(body >= 2 && close >= 0, "a data block is closed");
        // Base64 holds no "<": nothing in a block can end its element early.
        const auto bytes = QByteArray::fromBase64Encoding(page.mid(body, close - body),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        FUZZ_CHECK(bytes.decodingStatus == QByteArray::Base64DecodingStatus::Ok,
                   "a data block is base64");
        compressed[page.mid(at + open.size(), body - 2 - at - open.size())] += bytes.decoded;
        at = close;
    }
    std::map<QByteArray, QByteArray> columns;
    for (const auto& [name, bytes] : compressed)
        FUZZ_CHECK(inflateAll(bytes, columns[name]), "a column inflates");

    const QByteArray metaOpen = "<script type=\"application/json\" id=\"treelan-meta\">";
    const qsizetype metaAt = page.indexOf(metaOpen) + metaOpen.size();
    QJsonParseError error;
    const QJsonObject meta =
        QJsonDocument::fromJson(page.mid(metaAt, page.indexOf("</script>", metaAt) - metaAt),
                                &error)
            .object();
    FUZZ_CHECK(error.error == QJsonParseError::NoError, "the page's facts parse");
    const qsizetype files = qsizetype(names.size()) - 1;
    FUZZ_CHECK(meta.value(u"folders").toInteger() == 2 && meta.value(u"files").toInteger() == files,
               "the facts count the root, the folder and the files");

    const QStringList folderNames = pageNames(columns["fn"]);
    FUZZ_CHECK(folderNames == QStringList({QString(), names.front().text, QString()}),
               "the page gives the folder's name back");
    const QStringList fileNames = pageNames(columns["nn"]);
    FUZZ_CHECK(fileNames.size() == files + 1 && fileNames.back().isEmpty(), "one name a file");
    for (qsizetype i = 0; i < files; ++i)
        FUZZ_CHECK(fileNames[i] == names[std::size_t(i + 1)].text,
                   "the page gives the file's name back");

    // The tree the script builds: the folder below the root, its files in one run, their sizes.
    FUZZ_CHECK(pageNumbers(columns["fd"]) == std::vector<quint64>({0, 1}), "the folder depths");
    FUZZ_CHECK(pageNumbers(columns["ff"]) ==
                   (files ? std::vector<quint64>({2, quint64(files)}) : std::vector<quint64>()),
               "the files in one run of the folder");
    std::vector<quint64> sizes;
    for (qsizetype i = 1; i <= files; ++i)
        sizes.push_back(quint64(i) + 1);
    FUZZ_CHECK(pageNumbers(columns["sz"]) == sizes, "the sizes stay with their files");

    // Every ASCII extension has its type, under the name the script looks it up by.
    const QStringList types = pageNames(columns["ty"]);
    for (qsizetype i = 0; i < files; ++i) {
        const QString& name = fileNames[i];
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
        bool ascii = true;
        for (const QChar c : extension)
            ascii = ascii && c.unicode() < 0x80;
        if (!ascii) continue;
        bool found = false;
        for (qsizetype t = 0; t + 1 < types.size() && !found; t += 2)
            found = types[t] == extension.toLower();
        FUZZ_CHECK(found, "an extension has its type");
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
    checkNcdu(names);
    checkPage(names);
    return 0;
}
