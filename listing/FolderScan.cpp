#include "listing/FolderScan.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"
#include "listing/EntryFormat.h"
#include "listing/ListingModel.h"
#include "media/MediaPool.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"
#include "settings/StringTable.h"

#include <QHash>
#include <QMimeDatabase>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace treelan {

QString Nuly(QString& text) {
    if (text.size() < 12) text.prepend(QString(12 - text.size(), QLatin1Char('0')));
    return text;
}

QString Nuly(const QString& text) {
    QString copy = text;
    return Nuly(copy);
}

QString StripTerminator(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString TypeNameForFile(const QString& name) {
    // The MIME database is slow to ask; a listing has few distinct extensions.
    // Per thread: a scan in the background and one in the foreground (a test, the command line)
    // may ask at once.
    thread_local QHash<QString, QString> cache;
    static const QMimeDatabase db;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A few recent extensions answer most calls without building a key.
    struct Recent {
        QString extension, typeName;
    };
    thread_local std::array<Recent, 8> recent;
    thread_local std::size_t nextRecent = 0;
    const QStringView extension = dot >= 0 ? QStringView(name).mid(dot + 1) : QStringView();
    if (dot >= 0)
        for (const Recent& r : recent)
            if (!r.extension.isNull() && extension.compare(r.extension, Qt::CaseInsensitive) == 0)
                return r.typeName;
    // Like the shell's type names, these go by the extension alone: every name without one gets
    // the same type. (Asking the database about each such name would also cost 45 us a file.)
    const QString key = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    const QString probe = dot >= 0 ? name : QStringLiteral("file");
    auto it = cache.constFind(key);
    if (it == cache.constEnd()) {
        // The database's texts are made under its own lock, which a thread checker cannot see;
        // ours orders every lookup, and the text kept is a copy of our own.
        static std::mutex dbLock;
        QString typeName;
        {
            std::lock_guard guard(dbLock);
            const QString comment =
                db.mimeTypeForFile(probe, QMimeDatabase::MatchExtension).comment();
            typeName = StripTerminator(QString(comment.constData(), comment.size()));
        }
        it = cache.insert(key, typeName);
    }
    if (dot >= 0) recent[nextRecent++ % recent.size()] = {key, *it};
    return *it;
}

QString BitrateKey(const QString& bitrateText) {
    const QString word = bitrateText.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    bool ok = false;
    const qlonglong value = word.toLongLong(&ok);
    if (!ok || value < 0) return {};
    return QStringLiteral("%1").arg(value, 5, 10, QLatin1Char('0'));
}

namespace {

class ScanVisitor final : public WalkVisitor {
public:
    ScanVisitor(ListingModel& model, const ScanOptions& options)
        : m_model(model), m_options(options), m_root(options.rootPath.display()),
          m_folderMarker(QLatin1Char('<') + GetGuiString(Str::Folder) + QLatin1Char('>')) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        m_rawFolder = DecodesExactly(folder.rawRelPath) ? QByteArrayView()
                                                        : QByteArrayView(folder.rawRelPath);
        for (const DirEntry& e : folder.entries)
            if (!e.isFolder()) addFileRow(folder, e);
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            if (!e.isFolder()) continue;
            if (m_options.browseSubfolders)
                children.push_back(i);
            else
                addSubfolderRow(e);
        }
    }
    bool childBegin(WalkFolder&, const DirEntry&) override { return true; }
    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {}
    void folderDone(WalkFolder&) override {}

private:
    // Formats the row's texts into reused buffers and hands them over as views, so a row costs
    // no allocation of its own.
    void addFileRow(const WalkFolder& folder, const DirEntry& e) {
        FileEntryView row{};
        const QString name = e.name();
        const QString typeName = TypeNameForFile(name);
        row[ColName] = name;
        row[ColFolder] = folder.relPath;
        row[ColTypeName] = typeName;
        if (e.kind == DirEntry::Kind::Unexamined) {
            if (m_options.walk.warning)
                m_options.walk.warning(
                    m_root + folder.relPath + name,
                    QStringLiteral("cannot be examined; listed without size and date"));
            m_model.addRow(row, false, rawNames(e));
            return;
        }
        m_bytes.truncate(0);
        AppendListingSizeText(m_bytes, e.size);
        const qsizetype sizeEnd = m_bytes.size();
        AppendDateText(m_bytes, e.fileTime);
        const qsizetype dateEnd = m_bytes.size();
        // The size key: the byte count left-padded with "0" to at least 12 digits.
        AppendDecimal(m_bytes, quint64(qMax<qint64>(e.size, 0)), 12);
        const qsizetype sizeKeyEnd = m_bytes.size();
        AppendDecimal(m_bytes, quint64(e.fileTime) >> 32, 1);
        m_text.resize(m_bytes.size());
        QChar* out = m_text.data();
        for (qsizetype i = 0; i < m_bytes.size(); ++i)
            out[i] = QLatin1Char(m_bytes[i]);
        const QStringView all(m_text);
        row[ColSize] = all.first(sizeEnd);
        row[ColDate] = all.sliced(sizeEnd, dateEnd - sizeEnd);
        row[ColSizeKey] = all.sliced(dateEnd, sizeKeyEnd - dateEnd);
        row[ColDateKey] = all.sliced(sizeKeyEnd);
        MP3Info info;
        QString bitrateKey;
        MediaInfo media;
        // A link not followed is the link alone: nothing behind it is read.
        const bool readable = e.kind == DirEntry::Kind::File ||
                              (e.kind == DirEntry::Kind::Link && !m_options.walk.noFollow);
        if (m_options.mediaInfo && readable && IsMediaName(name)) {
            media = readMedia(folder, e, name);
            bitrateKey = BitrateKey(media.timing.Bitrate);
            row[ColDuration] = media.timing.Duration;
            row[ColBitrate] = media.timing.Bitrate;
            row[ColBitrateKey] = bitrateKey;
            for (std::size_t i = 0; i < kMediaFieldCount; ++i)
                row[std::size_t(ColMedia) + i] = media.fields[i];
        } else if (m_options.mp3Info && readable && IsMp3Name(name)) {
            info = readMp3(folder, e);
            bitrateKey = BitrateKey(info.Bitrate);
            row[ColDuration] = info.Duration;
            row[ColBitrate] = info.Bitrate;
            row[ColBitrateKey] = bitrateKey;
        }
        m_model.addRow(row, false, rawNames(e));
    }

    RawRowNames rawNames(const DirEntry& e) const {
        return {m_rawFolder, DecodesExactly(e.rawName) ? QByteArrayView() : e.rawName};
    }

    void addSubfolderRow(const DirEntry& e) {
        const QString folder = e.name() + QLatin1Char('/');
        const QByteArray raw = e.rawName + '/';
        FileEntryView row{};
        row[ColFolder] = folder;
        row[ColSize] = m_folderMarker;
        m_model.addRow(row, true, {DecodesExactly(e.rawName) ? QByteArrayView() : raw, {}});
    }

    // Through a helper process; a file it cannot read gets empty fields and the scan goes on.
    MediaInfo readMedia(const WalkFolder& folder, const DirEntry& e, const QString& name) const {
        const QString display = m_root + folder.relPath + name;
        auto warn = [&](const QString& reason) {
            if (m_options.walk.warning) m_options.walk.warning(display, reason);
        };
        int error = 0;
        const int fd = OpenRegularFile(folder.fd, e.rawName, error);
        if (fd < 0) {
            warn(QStringLiteral("cannot read media details: ") +
                 QString::fromLocal8Bit(std::strerror(error)));
            return {};
        }
        MediaInfo info = MediaPool::instance().read(fd, e.size, name, warn);
        ::close(fd);
        return info;
    }

    // A file the reader cannot open or read gets empty MP3 fields; the scan goes on.
    MP3Info readMp3(const WalkFolder& folder, const DirEntry& e) const {
        const QString display = m_root + folder.relPath + e.name();
        int error = 0;
        const int fd = OpenRegularFile(folder.fd, e.rawName, error);
        if (fd < 0) {
            if (m_options.walk.warning)
                m_options.walk.warning(display, QStringLiteral("cannot read MP3 information: ") +
                                                    QString::fromLocal8Bit(std::strerror(error)));
            return {};
        }
        MP3Info info;
        try {
            info = ReadMP3InfoFromFd(fd, e.size, display);
        } catch (const FileError& err) {
            if (m_options.walk.warning) m_options.walk.warning(display, err.reason());
        }
        ::close(fd);
        return info;
    }

    ListingModel& m_model;
    const ScanOptions& m_options;
    QByteArray m_bytes; // reused for every row's number texts
    QString m_text;
    QString m_root;
    QString m_folderMarker;
    QByteArrayView m_rawFolder; // the folder's raw path where its text does not give it exactly
};

// Sorts the rows once however the scan ends.
class BatchGuard {
public:
    explicit BatchGuard(ListingModel& model) : m_model(model) { m_model.beginBatch(); }
    ~BatchGuard() { m_model.endBatch(); }
    BatchGuard(const BatchGuard&) = delete;
    BatchGuard& operator=(const BatchGuard&) = delete;

private:
    ListingModel& m_model;
};

} // namespace

void FindFilesAPI(ListingModel& model, const ScanOptions& options) {
    ScanVisitor visitor(model, options);
    BatchGuard batch(model);
    WalkTree(options.rootPath, visitor, options.walk);
}

void RefreshListing(ListingModel& model, const ScanOptions& options) {
    model.clear();
    FindFilesAPI(model, options);
}

} // namespace treelan
