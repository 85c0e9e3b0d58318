#include "export/TreeWriter.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"
#include "listing/EntryFormat.h"
#include "listing/Sort.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"

#include <unistd.h>

namespace treelan {

void PathSet::add(const QByteArray& rawRelativePath) {
    if (rawRelativePath.endsWith('/'))
        m_folders.insert(rawRelativePath);
    else
        m_files.insert(rawRelativePath);
}

OutputBuffer::OutputBuffer(QIODevice& device, QString displayName)
    : m_device(device), m_displayName(std::move(displayName)) {
    m_buffer.reserve(kChunk + 64 * 1024);
}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::flush() {
    if (m_buffer.isEmpty()) return;
    if (m_device.write(m_buffer) != m_buffer.size())
        throw FileError(m_displayName, QStringLiteral("cannot write: ") + m_device.errorString());
    m_buffer.clear();
}

namespace {

bool needsEscape(char16_t c) {
    return c < 0x20 || c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == 0x7F;
}

} // namespace

void AppendNormalized(QByteArray& out, QStringView text) {
    // ASCII text, the common case, is written byte by byte straight into the output.
    const qsizetype n = text.size();
    const auto* src = reinterpret_cast<const char16_t*>(text.utf16());
    bool ascii = true;
    qsizetype extra = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        if (needsEscape(c)) extra += 5;
    }
    if (ascii) {
        const qsizetype start = out.size();
        out.resize(start + n + extra);
        char* dst = out.data() + start;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = src[i];
            if (!needsEscape(c)) {
                *dst++ = char(c);
                continue;
            }
            const char* rep = nullptr;
            char picture[3] = {'\xE2', '\x90', '\0'};
            switch (c) {
            case u'&':
                rep = "&amp;";
                break;
            case u'<':
                rep = "&lt;";
                break;
            case u'>':
                rep = "&gt;";
                break;
            case u'"':
                rep = "&quot;";
                break;
            default:
                // U+2400 + c, or U+2421 for DEL, in UTF-8.
                picture[2] = char(0x80 + (c == 0x7F ? 0x21 : c));
            }
            if (rep) {
                for (; *rep; ++rep)
                    *dst++ = *rep;
            } else {
                for (const char b : picture)
                    *dst++ = b;
            }
        }
        out.resize(dst - out.data());
        return;
    }
    bool plain = true;
    for (const QChar c : text)
        if (needsEscape(c.unicode())) {
            plain = false;
            break;
        }
    if (plain) {
        out.append(ToUTF8(text));
        return;
    }
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QLatin1String("&amp;");
            break;
        case u'<':
            escaped += QLatin1String("&lt;");
            break;
        case u'>':
            escaped += QLatin1String("&gt;");
            break;
        case u'"':
            escaped += QLatin1String("&quot;");
            break;
        case 0x7F:
            escaped += QChar(0x2421);
            break;
        default:
            escaped += c.unicode() < 0x20 ? QChar(0x2400 + c.unicode()) : c;
        }
    }
    out.append(ToUTF8(escaped));
}

QByteArray Normalize(const QString& text) {
    QByteArray out;
    AppendNormalized(out, text);
    return out;
}

void BreakDelimiter(QByteArray& out, qsizetype from) {
    // Each pass removes one "--x" and makes none: what precedes the new "&" is unchanged.
    for (qsizetype at = out.indexOf("--x", from); at >= 0; at = out.indexOf("--x", at))
        out.replace(at + 1, 1, "&#45;");
}

QByteArray NormalizeForArchive(const QString& text) {
    QByteArray out = Normalize(text);
    BreakDelimiter(out);
    return out;
}

namespace {

struct FileRecord {
    QString key;
    QString name;
    qint64 size = 0;
    qint64 fileTime = 0;
    bool examined = true;
    MP3Info mp3;
};

struct SubfolderItem {
    QString key;
    QString name;
    std::size_t index;
};

class ExportVisitor final : public WalkVisitor {
public:
    ExportVisitor(const QString& root, TreeForm form, const ExportOptions& options,
                  OutputBuffer& out)
        : m_root(root), m_form(form), m_options(options), m_out(out),
          m_filterPaths(!options.removed.isEmpty() || options.selectedOnly) {
        if (options.selectedOnly) {
            // Every folder that leads to a selected entry is written.
            auto addAncestors = [this](const QByteArray& path) {
                for (qsizetype i = path.indexOf('/'); i >= 0; i = path.indexOf('/', i + 1))
                    m_selectedAncestors.insert(path.left(i + 1));
            };
            for (const QByteArray& p : options.selected.files())
                addAncestors(p);
            for (const QByteArray& p : options.selected.folders())
                addAncestors(p);
        }
    }

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        const std::size_t depth = std::size_t(folder.depth);
        if (m_pending.size() <= depth) m_pending.resize(depth + 1);
        if (m_whole.size() <= depth) m_whole.resize(depth + 1);
        m_whole[depth] =
            m_options.selectedOnly && ((depth > 0 && m_whole[depth - 1]) ||
                                       m_options.selected.containsFolder(folder.rawRelPath));
        std::vector<FileRecord>& files = m_pending[depth];
        files.clear();

        std::vector<SubfolderItem> subfolders;
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& entry = folder.entries[i];
            if (entry.isFolder()) {
                if (folderPasses(folder, entry, depth))
                    subfolders.push_back({SortKey(entry.name), entry.name, i});
            } else if (filePasses(folder, entry, depth)) {
                files.push_back(makeRecord(folder, entry));
            }
        }
        SortRecords(subfolders);
        children.reserve(subfolders.size());
        for (const SubfolderItem& item : subfolders)
            children.push_back(item.index);
        SortRecords(files);
    }

    bool childBegin(WalkFolder&, const DirEntry& child) override {
        QByteArray& b = m_out.buffer();
        if (m_form == TreeForm::Xml) {
            AppendLiteral(b, "<folder title=\"");
            AppendNormalized(b, child.name);
            AppendLiteral(b, "\">\r\n");
        } else {
            AppendLiteral(b, "<li class=\"clsHasKids\"><span>");
            const qsizetype at = b.size();
            AppendNormalized(b, child.name);
            BreakDelimiter(b, at);
            AppendLiteral(b, "</span><ul>\r\n");
        }
        m_out.spill();
        return m_options.browseSubfolders;
    }

    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {
        if (m_form == TreeForm::Xml)
            AppendLiteral(m_out.buffer(), "</folder>\r\n\r\n");
        else
            AppendLiteral(m_out.buffer(), "</ul></li>\r\n");
        m_out.spill();
    }

    void folderDone(WalkFolder& folder) override {
        std::vector<FileRecord>& files = m_pending[std::size_t(folder.depth)];
        if (!folder.readable) return;
        QByteArray& b = m_out.buffer();
        if (m_form == TreeForm::Html) AppendLiteral(b, "<table>\r\n");
        for (const FileRecord& r : files) {
            if (m_form == TreeForm::Xml) {
                AppendLiteral(b, "<file title=\"");
                AppendNormalized(b, r.name);
                AppendLiteral(b, "\" size=\"");
                if (r.examined) AppendSizeText(b, r.size);
                AppendLiteral(b, "\" date=\"");
                if (r.examined) AppendDateText(b, r.fileTime);
                AppendChar(b, '"');
                if (!r.mp3.Duration.isEmpty())
                    b.append(" length=\"").append(r.mp3.Duration.toLatin1()).append('"');
                if (!r.mp3.Bitrate.isEmpty())
                    b.append(" bitrate=\"").append(r.mp3.Bitrate.toLatin1()).append('"');
                AppendLiteral(b, " />\r\n");
            } else {
                AppendLiteral(b, "<tr><td>");
                const qsizetype at = b.size();
                AppendNormalized(b, r.name);
                BreakDelimiter(b, at);
                AppendLiteral(b, "</td><td align=\"Right\">");
                if (r.examined) AppendSizeText(b, r.size);
                AppendLiteral(b, "</td><td align=\"Right\">");
                if (r.examined) AppendDateText(b, r.fileTime);
                AppendLiteral(b, "</td>");
                if (!r.mp3.Duration.isEmpty())
                    b.append("<td>").append(r.mp3.Duration.toLatin1()).append("</td>");
                if (!r.mp3.Bitrate.isEmpty())
                    b.append("<td>").append(r.mp3.Bitrate.toLatin1()).append("</td>");
                AppendLiteral(b, "</tr>\r\n");
            }
            m_out.spill();
        }
        if (m_form == TreeForm::Html) AppendLiteral(b, "</table>\r\n");
        m_out.spill();
        files.clear();
        files.shrink_to_fit();
    }

private:
    bool folderPasses(const WalkFolder& folder, const DirEntry& entry, std::size_t depth) const {
        if (!m_filterPaths) return true;
        const QByteArray rel = folder.rawRelPath + entry.rawName + '/';
        if (m_options.removed.containsFolder(rel)) return false;
        if (!m_options.selectedOnly || m_whole[depth]) return true;
        return m_selectedAncestors.contains(rel);
    }

    bool filePasses(const WalkFolder& folder, const DirEntry& entry, std::size_t depth) const {
        if (!m_filterPaths) return true;
        const QByteArray rel = folder.rawRelPath + entry.rawName;
        if (m_options.removed.containsFile(rel)) return false;
        if (!m_options.selectedOnly || m_whole[depth]) return true;
        return m_options.selected.containsFile(rel);
    }

    FileRecord makeRecord(const WalkFolder& folder, const DirEntry& entry) {
        FileRecord r;
        r.key = SortKey(entry.name);
        r.name = entry.name;
        r.size = entry.size;
        r.fileTime = entry.fileTime;
        r.examined = entry.kind != DirEntry::Kind::Unexamined;
        if (!r.examined && m_options.walk.warning)
            m_options.walk.warning(
                m_root + folder.relPath + entry.name,
                QStringLiteral("cannot be examined; written without size and date"));
        if (m_options.mp3Info && entry.kind == DirEntry::Kind::File && IsMp3Name(entry.name))
            r.mp3 = readMp3(folder, entry);
        return r;
    }

    MP3Info readMp3(const WalkFolder& folder, const DirEntry& entry) {
        const QString display = m_root + folder.relPath + entry.name;
        int error = 0;
        const int fd = OpenRegularFile(folder.fd, entry.rawName, error);
        if (fd < 0) {
            warnMp3(display, error);
            return {};
        }
        MP3Info info;
        try {
            info = ReadMP3InfoFromFd(fd, entry.size, display);
        } catch (const FileError& e) {
            if (m_options.walk.warning) m_options.walk.warning(display, e.reason());
        }
        ::close(fd);
        return info;
    }

    void warnMp3(const QString& display, int err) const {
        if (m_options.walk.warning)
            m_options.walk.warning(display, QStringLiteral("cannot read MP3 information: ") +
                                                QString::fromLocal8Bit(std::strerror(err)));
    }

    QString m_root;
    TreeForm m_form;
    const ExportOptions& m_options;
    OutputBuffer& m_out;
    bool m_filterPaths;
    QSet<QByteArray> m_selectedAncestors;
    std::vector<std::vector<FileRecord>> m_pending; // per depth: the files written after subfolders
    std::vector<bool> m_whole;                      // per depth: inside a selected folder
};

} // namespace

void Export(const RootPath& root, TreeForm form, const ExportOptions& options, OutputBuffer& out) {
    ExportVisitor visitor(root.display(), form, options, out);
    WalkTree(root, visitor, options.walk);
}

} // namespace treelan
