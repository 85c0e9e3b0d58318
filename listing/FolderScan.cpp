#include "listing/FolderScan.h"

#include "listing/EntryFormat.h"
#include "listing/ListingModel.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"
#include "settings/GuiStrings.h"

#include <QHash>
#include <QMimeDatabase>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    static QHash<QString, QString> cache;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // Names without a dot may still match a whole-name pattern (Makefile), so they key by name.
    const QString key = dot < 0 ? QLatin1Char('/') + name.toLower() : name.mid(dot + 1).toLower();
    const auto it = cache.constFind(key);
    if (it != cache.constEnd()) return *it;
    static const QMimeDatabase db;
    const QString comment =
        StripTerminator(db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment());
    cache.insert(key, comment);
    return comment;
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
        : m_model(model), m_options(options), m_root(NormalizeRootPath(options.rootPath)),
          m_folderMarker(QLatin1Char('<') + GetGuiString(121) + QLatin1Char('>')) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        for (const DirEntry& e : folder.entries)
            if (!e.isFolder()) m_model.addRow(fileRow(folder, e));
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& e = folder.entries[i];
            if (!e.isFolder()) continue;
            if (m_options.browseSubfolders)
                children.push_back(i);
            else
                m_model.addRow(subfolderRow(e), true);
        }
    }
    bool childBegin(WalkFolder&, const DirEntry&) override { return true; }
    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {}
    void folderDone(WalkFolder&) override {}

private:
    FileEntry fileRow(const WalkFolder& folder, const DirEntry& e) {
        FileEntry r;
        r.name = e.name;
        r.folder = folder.relPath;
        r.typeName = TypeNameForFile(e.name);
        if (e.kind == DirEntry::Kind::Unexamined) {
            if (m_options.warning)
                m_options.warning(
                    m_root + folder.relPath + e.name,
                    QStringLiteral("cannot be examined; listed without size and date"));
            return r;
        }
        r.sizeText = FormatSizeText(e.size);
        r.dateText = FormatDateText(e.fileTime);
        r.sizeKey = Nuly(QString::number(e.size));
        r.dateKey = QString::number(quint64(e.fileTime) >> 32);
        if (m_options.mp3Info && IsMp3Name(e.name)) {
            const MP3Info info = readMp3(folder, e);
            r.durationText = info.Duration;
            r.bitrateText = info.Bitrate;
            r.bitrateKey = BitrateKey(info.Bitrate);
        }
        return r;
    }

    FileEntry subfolderRow(const DirEntry& e) const {
        FileEntry r;
        r.folder = e.name + QLatin1Char('/');
        r.sizeText = m_folderMarker;
        return r;
    }

    // A file the reader cannot open or read gets empty MP3 fields; the scan goes on.
    MP3Info readMp3(const WalkFolder& folder, const DirEntry& e) const {
        const QString display = m_root + folder.relPath + e.name;
        const int fd = ::openat(folder.fd, e.rawName.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (m_options.warning)
                m_options.warning(display, QStringLiteral("cannot read MP3 information: ") +
                                               QString::fromLocal8Bit(std::strerror(errno)));
            return {};
        }
        MP3Info info;
        try {
            info = ReadMP3InfoFromFd(fd, e.size, display);
        } catch (const FileError& err) {
            if (m_options.warning) m_options.warning(display, err.reason());
        }
        ::close(fd);
        return info;
    }

    ListingModel& m_model;
    const ScanOptions& m_options;
    QString m_root;
    QString m_folderMarker;
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
    WalkOptions walk;
    walk.progress = options.progress;
    walk.warning = options.warning;
    BatchGuard batch(model);
    WalkTree(options.rootPath, visitor, walk);
}

void RefreshListing(ListingModel& model, const ScanOptions& options) {
    model.clear();
    FindFilesAPI(model, options);
}

} // namespace treelan
