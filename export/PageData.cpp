#include "export/PageData.h"

#include "codec/Utf8.h"
#include "format/EntryFormat.h"

#include <algorithm>
#include <stdexcept>
#include <zlib.h>

namespace treelan {

namespace {

// A page shows the type of at most this many distinct extensions; the rest show the extension.
constexpr qsizetype kMaxExtensions = 4096;

void appendUint(QByteArray& out, quint64 v) {
    char bytes[10];
    int n = 0;
    while (v >= 0x80) {
        bytes[n++] = char(0x80 | (v & 0x7F));
        v >>= 7;
    }
    bytes[n++] = char(v);
    out.append(bytes, n);
}

// UTF-8 of a name; ASCII, the common case, without a temporary.
void appendName(QByteArray& out, QStringView name) {
    const auto* src = reinterpret_cast<const char16_t*>(name.utf16());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i)
        if (src[i] >= 0x80) {
            out.append(ToUTF8(name));
            return;
        }
    const qsizetype at = out.size();
    out.resize(at + n);
    char* dst = out.data() + at;
    for (qsizetype i = 0; i < n; ++i)
        dst[i] = char(src[i]);
}

void appendInt(QByteArray& out, qint64 v) {
    appendUint(out, v < 0 ? (quint64(-(v + 1)) << 1) | 1 : quint64(v) << 1);
}

} // namespace

// One column: input gathered in a small buffer, deflated, output handed on in pieces.
class PageData::Stream {
public:
    Stream(int column, const PieceSink& sink, qsizetype pieceSize)
        : m_column(column), m_sink(sink), m_pieceSize(pieceSize) {
        // Higher levels gain little here (sizes: under 1 %, names: 7 %) and cost the writer
        // two to five times the time.
        const int level = column == Nn || column == Fn ? 3 : 1;
        if (deflateInit(&m_z, level) != Z_OK) throw std::bad_alloc();
        m_in.reserve(kInput);
        m_out.reserve(m_pieceSize + kOutStep);
    }
    ~Stream() { deflateEnd(&m_z); }

    QByteArray& in() { return m_in; }
    void spill() {
        if (m_in.size() >= kInput) deflateInput(Z_NO_FLUSH);
    }
    void finish() {
        deflateInput(Z_FINISH);
        if (!m_out.isEmpty()) m_sink(m_column, m_out);
        m_out.clear();
    }

private:
    static constexpr qsizetype kInput = 32 * 1024;
    static constexpr qsizetype kOutStep = 64 * 1024;

    void deflateInput(int flush) {
        m_z.next_in = reinterpret_cast<Bytef*>(m_in.data());
        m_z.avail_in = uInt(m_in.size());
        for (;;) {
            const qsizetype at = m_out.size();
            m_out.resize(at + kOutStep);
            m_z.next_out = reinterpret_cast<Bytef*>(m_out.data() + at);
            m_z.avail_out = uInt(kOutStep);
            const int status = deflate(&m_z, flush);
            m_out.resize(at + kOutStep - qsizetype(m_z.avail_out));
            if (status == Z_STREAM_ERROR) throw std::logic_error("deflate");
            if (m_out.size() >= m_pieceSize) {
                m_sink(m_column, m_out);
                m_out.clear();
            }
            if (flush == Z_FINISH ? status == Z_STREAM_END : m_z.avail_out != 0) break;
        }
        m_in.clear();
    }

    int m_column;
    const PieceSink& m_sink;
    qsizetype m_pieceSize;
    z_stream m_z{};
    QByteArray m_in;
    QByteArray m_out;
};

const char* PageData::columnName(int column) {
    static const char* const names[ColumnCount] = {"fn", "fd", "fs", "nn", "ff",
                                                   "sz", "tm", "mp", "ty", "md"};
    return column >= 0 && column < ColumnCount ? names[column] : "";
}

PageData::PageData(PieceSink piece, qsizetype pieceSize) : m_sink(std::move(piece)) {
    m_recentExtensions.fill(QStringLiteral("/")); // no extension holds a "/"
    m_pieceSize = pieceSize;
    for (int c = 0; c < ColumnCount; ++c)
        if (c != Md) m_columns[std::size_t(c)] = std::make_unique<Stream>(c, m_sink, pieceSize);
}

PageData::~PageData() = default;

void PageData::putPendingState() {
    if (m_folders == 0) return;
    m_columns[Fs]->in().append(char(m_pendingState));
    m_columns[Fs]->spill();
    m_pendingState = FolderState::Listed;
}

qint64 PageData::addFolder(int depth, QStringView name, FolderState state) {
    putPendingState();
    Stream& fn = *m_columns[Fn];
    if (m_folders > 0) appendName(fn.in(), name);
    fn.in().append('\0');
    fn.spill();
    appendUint(m_columns[Fd]->in(), quint64(std::max(depth, 0)));
    m_columns[Fd]->spill();
    m_pendingState = state;
    return m_folders++;
}

void PageData::endRun() {
    if (m_runLength == 0) return;
    QByteArray& ff = m_columns[Ff]->in();
    appendInt(ff, m_runFolder - m_lastRunFolder);
    appendUint(ff, quint64(m_runLength));
    m_columns[Ff]->spill();
    m_lastRunFolder = m_runFolder;
    m_runLength = 0;
}

void PageData::addFile(qint64 folder, const QString& name, qint64 size, qint64 unixSeconds,
                       qint64 durationMs, int kbps, const MediaInfo* media) {
    if (folder != m_runFolder) {
        endRun();
        m_runFolder = folder;
    }
    ++m_runLength;

    Stream& nn = *m_columns[Nn];
    appendName(nn.in(), name);
    nn.in().append('\0');
    nn.spill();

    appendUint(m_columns[Sz]->in(), size < 0 ? 0 : quint64(size) + 1);
    m_columns[Sz]->spill();
    if (size >= 0) {
        appendInt(m_columns[Tm]->in(), unixSeconds - m_lastTime);
        m_columns[Tm]->spill();
        m_lastTime = unixSeconds;
    }
    if (durationMs > 0 || kbps > 0) {
        QByteArray& mp = m_columns[Mp]->in();
        appendUint(mp, quint64(m_files - m_lastMp3 - 1));
        appendUint(mp, quint64(std::max<qint64>(durationMs, 0)));
        appendUint(mp, quint64(std::max(kbps, 0)));
        m_columns[Mp]->spill();
        m_lastMp3 = m_files;
    }
    if (media && std::any_of(media->fields.begin(), media->fields.end(),
                             [](const QString& f) { return !f.isEmpty(); })) {
        if (!m_columns[Md]) m_columns[Md] = std::make_unique<Stream>(Md, m_sink, m_pieceSize);
        QByteArray& md = m_columns[Md]->in();
        appendUint(md, quint64(m_files - m_lastMedia - 1));
        for (const QString& f : media->fields) {
            QString text = f;
            text.remove(QChar(0));
            appendName(md, text);
            md.append('\0');
        }
        m_columns[Md]->spill();
        m_lastMedia = m_files;
    }
    // Type names go by the extension alone, so the page needs one per extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView extensionView = dot >= 0 ? QStringView(name).mid(dot + 1) : QStringView();
    bool recent = false;
    for (const QString& r : m_recentExtensions)
        recent = recent || extensionView.compare(r, Qt::CaseInsensitive) == 0;
    if (!recent && m_extensions.size() < kMaxExtensions) {
        const QString extension = extensionView.toString().toLower();
        m_recentExtensions[m_nextRecent++ % m_recentExtensions.size()] = extension;
        if (!m_extensions.contains(extension)) {
            m_extensions.insert(extension);
            QByteArray& ty = m_columns[Ty]->in();
            ty.append(ToUTF8(extension)).append('\0');
            ty.append(ToUTF8(TypeNameForFile(name))).append('\0');
            m_columns[Ty]->spill();
        }
    }
    ++m_files;
}

void PageData::finish() {
    if (m_finished) return;
    m_finished = true;
    putPendingState();
    endRun();
    for (auto& column : m_columns)
        if (column) column->finish();
}

} // namespace treelan
