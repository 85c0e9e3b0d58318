#include "listing/FolderScan.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"
#include "format/EntryFormat.h"
#include "listing/ListingModel.h"
#include "media/MediaPool.h"
#include "media/Mp3Info.h"
#include "settings/StringTable.h"

namespace treelan {

QString Nuly(QString& text) {
    if (text.size() < 12) text.prepend(QString(12 - text.size(), QLatin1Char('0')));
    return text;
}

QString Nuly(const QString& text) {
    QString copy = text;
    return Nuly(copy);
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
        const bool readable = e.readsAsFile(m_options.walk.noFollow);
        if (m_options.mediaInfo && readable && IsMediaName(name)) {
            media = std::move(
                ReadMediaInfoIn(folder, {&e}, m_root + folder.relPath, m_options.walk.warning)[0]);
            bitrateKey = BitrateKey(media.timing.Bitrate);
            row[ColDuration] = media.timing.Duration;
            row[ColBitrate] = media.timing.Bitrate;
            row[ColBitrateKey] = bitrateKey;
            for (std::size_t i = 0; i < kMediaFieldCount; ++i)
                row[std::size_t(ColMedia) + i] = media.fields[i];
        } else if (m_options.mp3Info && readable && IsMp3Name(name)) {
            info = ReadMP3InfoIn(folder, e, m_root + folder.relPath + name, m_options.walk.warning);
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
    if (options.source) { // a snapshot of the catalogue, read instead of the disk
        options.source(visitor, options.walk);
        return;
    }
    WalkOptions walk = options.walk;
    // Media files are read by the walk's workers too, ahead of the listing.
    if (options.mediaInfo)
        walk.readAhead = MediaReadAhead(walk.noFollow);
    else if (options.mp3Info)
        walk.readAhead = Mp3ReadAhead(walk.noFollow);
    WalkTree(options.rootPath, visitor, walk);
}

void RefreshListing(ListingModel& model, const ScanOptions& options) {
    model.clear();
    FindFilesAPI(model, options);
}

} // namespace treelan
