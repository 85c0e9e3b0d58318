// The walk that feeds every export writer: which entries go into the document, in which order,
// with which MP3 data and which folder totals.
#include "export/TreeWriter.h"

#include "TreelanConfig.h"
#include "format/EntryFormat.h"
#include "format/Sort.h"
#include "media/MediaPool.h"
#include "media/Mp3Info.h"
#include "platform/FileError.h"

#include <QSet>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace treelan {

QString ExportEntry::relPath() const {
    QString path = folder.toString();
    path += name;
    if (isFolder() && !name.isEmpty()) path += QLatin1Char('/');
    return path;
}

QByteArray ExportEntry::rawRelPath() const {
    QByteArray path = rawFolder.toByteArray() + rawName.toByteArray();
    if (isFolder() && !rawName.isEmpty()) path += '/';
    return path;
}

qint64 ExportEntry::unixTime() const {
    return UnixSecondsFromFileTime(fileTime);
}

namespace {

// Digits at `at` up to the first non-digit; -1 when there are none or they overflow.
qint64 number(QStringView text, qsizetype& at) {
    qint64 value = 0;
    const qsizetype start = at;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        if (value > (std::numeric_limits<qint64>::max() - 9) / 10) return -1;
        value = value * 10 + (text[at].unicode() - u'0');
    }
    return at > start ? value : -1;
}

// "hh:mm:ss" (hours may have more digits) in seconds; -1 for anything else.
qint64 durationSeconds(QStringView text) {
    qsizetype at = 0;
    qint64 total = 0;
    for (int part = 0; part < 3; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != u':')) return -1;
        const qint64 v = number(text, at);
        if (v < 0 || (part > 0 && v > 59) || total > std::numeric_limits<qint64>::max() / 60)
            return -1;
        total = total * 60 + v;
    }
    return at == text.size() ? total : -1;
}

} // namespace

Mp3Fields Mp3FieldsOf(MP3Info info) {
    Mp3Fields f;
    if (!info.Duration.isEmpty()) f.seconds = durationSeconds(info.Duration);
    const QStringView bitrate(info.Bitrate);
    qsizetype at = 0;
    const qint64 kbps = number(bitrate, at);
    const QStringView rest = bitrate.mid(at);
    if (kbps > 0 && kbps <= std::numeric_limits<int>::max() &&
        rest.startsWith(QLatin1String(" kbps"))) {
        f.kbps = int(kbps);
        f.vbr = rest == QLatin1String(" kbps (var.)");
    }
    f.durationText = std::move(info.Duration);
    f.bitrateText = std::move(info.Bitrate);
    return f;
}

namespace {

// A file of a folder, kept from the folder's reading until its subfolders are written. The entry
// itself stays in the walk's folder; a folder of 300,000 files keeps little more than that.
struct FileRecord {
    QString key;             // the sort key; null for plain ASCII names, compared on their bytes
    std::uint32_t entry = 0; // index into the folder's entries
    std::int32_t mp3 = -1;   // index into the folder's MP3 fields, or -1
    std::int32_t media = -1; // index into the folder's media details, or -1
};

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

char16_t upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? char16_t(c - 0x20) : char16_t(static_cast<unsigned char>(c));
}

// The order of SortRecords over (SortKey(name), name): upper-cased text, ties by the text itself.
// A null key stands for the upper-cased ASCII bytes of the name.
bool fileBefore(const FileRecord& a, const FileRecord& b, const std::vector<DirEntry>& entries) {
    const QByteArray& rawA = entries[a.entry].rawName;
    const QByteArray& rawB = entries[b.entry].rawName;
    const qsizetype lengthA = a.key.isNull() ? rawA.size() : a.key.size();
    const qsizetype lengthB = b.key.isNull() ? rawB.size() : b.key.size();
    const qsizetype common = std::min(lengthA, lengthB);
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t unitA = a.key.isNull() ? upperAscii(rawA[i]) : a.key[i].unicode();
        const char16_t unitB = b.key.isNull() ? upperAscii(rawB[i]) : b.key[i].unicode();
        if (unitA != unitB) return unitA < unitB;
    }
    if (lengthA != lengthB) return lengthA < lengthB;
    if (a.key.isNull() && b.key.isNull()) return rawA < rawB; // ASCII: bytes are code units
    return QString::compare(entries[a.entry].name(), entries[b.entry].name(), Qt::CaseSensitive) <
           0;
}

struct SubfolderItem {
    QString key;
    QString name;
    std::size_t index;
};

// Which entries of a folder go into the document, and in which order.
class Selection {
public:
    explicit Selection(const ExportOptions& options)
        : m_options(options), m_filterPaths(!options.removed.isEmpty() || options.selectedOnly) {
        if (!options.selectedOnly) return;
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

    // Called as the walk enters a folder at `depth`: whether all of it is selected.
    void enter(const WalkFolder& folder, std::size_t depth) {
        if (m_whole.size() <= depth) m_whole.resize(depth + 1);
        m_whole[depth] =
            m_options.selectedOnly && ((depth > 0 && m_whole[depth - 1]) ||
                                       m_options.selected.containsFolder(folder.rawRelPath));
    }

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

private:
    const ExportOptions& m_options;
    bool m_filterPaths;
    QSet<QByteArray> m_selectedAncestors;
    std::vector<bool> m_whole; // per depth: inside a selected folder
};

class WriterVisitor final : public WalkVisitor {
public:
    // `ahead`: the totals of every folder in the order the folders are entered, or null.
    WriterVisitor(const RootPath& root, const ExportOptions& options, TreeWriter& writer,
                  const TreeSource& source, const std::vector<FolderTotals>* ahead = nullptr)
        : m_root(root), m_options(options), m_writer(writer), m_source(source),
          m_selection(options), m_ahead(ahead), m_sorted(writer.wantsSortedEntries()) {}

    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        const std::size_t depth = std::size_t(folder.depth);
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        Level& level = m_levels[depth];
        level.totals = {};
        level.files.clear();
        level.mp3.clear();
        level.media.clear();
        m_selection.enter(folder, depth);
        QString rootName;
        if (depth == 0)
            m_writer.enterFolder(folderEntry(nullptr, nullptr, &folder, rootName), nextAhead());
        else if (m_pending.child)
            beginSubfolder(*m_pending.parent, *m_pending.child, &folder);

        std::vector<SubfolderItem> subfolders;
        for (std::size_t i = 0; i < folder.entries.size(); ++i) {
            const DirEntry& entry = folder.entries[i];
            if (entry.isFolder()) {
                if (m_selection.folderPasses(folder, entry, depth)) {
                    if (!m_sorted) {
                        children.push_back(i);
                        continue;
                    }
                    QString subfolder = entry.name();
                    subfolders.push_back({SortKey(subfolder), std::move(subfolder), i});
                }
            } else if (m_selection.filePasses(folder, entry, depth)) {
                if (level.files.empty()) level.files.reserve(folder.entries.size() - i);
                level.files.push_back(makeRecord(folder, entry, std::uint32_t(i), level));
            }
        }
        flushMedia(folder, level);
        SortRecords(subfolders);
        children.reserve(subfolders.size());
        for (const SubfolderItem& item : subfolders)
            children.push_back(item.index);
        if (!m_sorted) return;
        std::sort(level.files.begin(), level.files.end(),
                  [&entries = folder.entries](const FileRecord& a, const FileRecord& b) {
                      return fileBefore(a, b, entries);
                  });
    }

    bool childBegin(WalkFolder& parent, const DirEntry& child) override {
        const std::size_t depth = std::size_t(parent.depth) + 1;
        if (m_levels.size() <= depth) m_levels.resize(depth + 1);
        m_levels[depth].totals = {};
        if (!m_options.browseSubfolders) {
            beginSubfolder(parent, child, nullptr);
            return false;
        }
        // Written once the walk has tried to enter it: whether it could be read goes into the
        // folder's own entry (JSON "error", ncdu "read_error").
        m_pending = {&parent, &child};
        return true;
    }

    void childEnd(WalkFolder& parent, const DirEntry& child, const WalkFolder* entered) override {
        if (m_pending.child) beginSubfolder(parent, child, nullptr); // left out by the walk
        const std::size_t depth = std::size_t(parent.depth) + 1;
        const FolderTotals& inner = m_levels[depth].totals;
        QString name;
        m_writer.leaveFolder(folderEntry(&parent, &child, entered, name), inner);
        FolderTotals& outer = m_levels[depth - 1].totals;
        outer.files += inner.files;
        outer.folders += inner.folders + 1;
        outer.bytes += inner.bytes;
        outer.seconds += inner.seconds;
    }

    void folderDone(WalkFolder& folder) override {
        const std::size_t depth = std::size_t(folder.depth);
        Level& level = m_levels[depth];
        if (folder.readable) {
            for (const FileRecord& r : level.files) {
                const DirEntry& d = folder.entries[r.entry];
                const QString name = d.name();
                const Mp3Fields* mp3 = r.mp3 >= 0 ? &level.mp3[std::size_t(r.mp3)] : nullptr;
                ExportEntry e;
                e.media = r.media >= 0 ? &level.media[std::size_t(r.media)] : nullptr;
                e.kind = d.kind;
                e.name = name;
                e.rawName = d.rawName;
                e.folder = folder.relPath;
                e.rawFolder = folder.rawRelPath;
                e.depth = folder.depth + 1;
                e.size = d.size;
                e.fileTime = d.fileTime;
                e.mp3 = mp3;
                if (d.kind == DirEntry::Kind::Unexamined) e.error = ErrnoText(d.error);
                m_writer.file(e);
                ++level.totals.files;
                level.totals.bytes += ByteTotal(std::max<qint64>(d.size, 0));
                if (mp3 && mp3->seconds > 0) level.totals.seconds += mp3->seconds;
            }
        }
        level.files.clear();
        level.files.shrink_to_fit();
        level.mp3.clear();
        level.mp3.shrink_to_fit();
        level.media.clear();
        level.media.shrink_to_fit();
        if (depth == 0) {
            QString name;
            m_writer.leaveFolder(folderEntry(nullptr, nullptr, &folder, name), level.totals);
            m_rootTotals = level.totals;
        }
    }

    const FolderTotals& rootTotals() const { return m_rootTotals; }

private:
    void beginSubfolder(const WalkFolder& parent, const DirEntry& child, const WalkFolder* folder) {
        m_pending = {};
        QString name;
        m_writer.enterFolder(folderEntry(&parent, &child, folder, name), nextAhead());
    }

    const FolderTotals* nextAhead() {
        if (!m_ahead || m_entered >= m_ahead->size()) return nullptr;
        return &(*m_ahead)[m_entered++];
    }

    struct Level {
        std::vector<FileRecord> files; // written after the subfolders
        std::vector<Mp3Fields> mp3;    // of the files that are MP3 files, when asked for
        std::vector<MediaInfo> media;  // of the files with media names, with --media
        FolderTotals totals;
    };

    // A folder: the root (`folder` set, no parent), or `child` of `parent`, entered as `folder`
    // or not entered at all (null).
    // `name` holds the decoded name while the entry is in use.
    ExportEntry folderEntry(const WalkFolder* parent, const DirEntry* child,
                            const WalkFolder* folder, QString& name) const {
        ExportEntry e;
        e.kind = DirEntry::Kind::Folder;
        if (child) {
            name = child->name();
            e.name = name;
            e.rawName = child->rawName;
            e.fileTime = child->fileTime;
        }
        if (parent) {
            e.folder = parent->relPath;
            e.rawFolder = parent->rawRelPath;
            e.depth = parent->depth + 1;
        }
        if (!child && folder) e.fileTime = folder->fileTime; // the root
        e.listed = folder && folder->readable;
        if (folder && !folder->readable) {
            e.error = folder->reason();
            e.repeat = folder->repeat;
        }
        return e;
    }

    FileRecord makeRecord(const WalkFolder& folder, const DirEntry& entry, std::uint32_t index,
                          Level& level) {
        FileRecord r;
        r.entry = index;
        if (m_sorted && !isAscii(entry.rawName)) r.key = SortKey(entry.name());
        if (entry.kind == DirEntry::Kind::Unexamined && m_options.walk.warning)
            m_options.walk.warning(
                m_root.display() + folder.relPath + entry.name(),
                QStringLiteral("cannot be examined; written without size and date"));
        const bool readable = entry.readsAsFile(m_options.walk.noFollow);
        if (m_options.mediaInfo && readable && IsMediaName(entry.name())) {
            // Read in batches by the helpers side by side; filled in by flushMedia.
            r.mp3 = std::int32_t(level.mp3.size());
            level.mp3.emplace_back();
            r.media = std::int32_t(level.media.size());
            level.media.emplace_back();
            m_mediaPending.push_back({index, r.mp3, r.media});
            if (m_mediaPending.size() >= kMediaBatch) flushMedia(folder, level);
        } else if (m_options.mp3Info && readable && IsMp3Name(entry.name())) {
            r.mp3 = std::int32_t(level.mp3.size());
            level.mp3.push_back(Mp3FieldsOf(
                m_source.mp3Info(folder, entry, m_root.display() + folder.relPath + entry.name(),
                                 m_options.walk.warning)));
        }
        return r;
    }

    // The media files met since the last flush, read through the helper processes at once; a
    // file that makes a helper hang or die gets empty fields.
    void flushMedia(const WalkFolder& folder, Level& level) {
        if (m_mediaPending.empty()) return;
        std::vector<const DirEntry*> entries;
        for (const PendingMedia& p : m_mediaPending)
            entries.push_back(&folder.entries[p.entry]);
        std::vector<MediaInfo> read = m_source.mediaInfo(
            folder, entries, m_root.display() + folder.relPath, m_options.walk.warning);
        for (std::size_t i = 0; i < read.size(); ++i) {
            const PendingMedia& p = m_mediaPending[i];
            level.mp3[std::size_t(p.mp3)] = Mp3FieldsOf(read[i].timing);
            level.media[std::size_t(p.media)] = std::move(read[i]);
        }
        m_mediaPending.clear();
    }

    void warn(const QString& path, const QString& reason) const {
        if (m_options.walk.warning) m_options.walk.warning(path, reason);
    }

    // Files open at once for the helpers: enough to keep them busy, few descriptors.
    static constexpr std::size_t kMediaBatch = 32;
    struct PendingMedia {
        std::uint32_t entry; // index into the folder's entries
        std::int32_t mp3, media;
    };
    std::vector<PendingMedia> m_mediaPending;

    const RootPath& m_root;
    const ExportOptions& m_options;
    TreeWriter& m_writer;
    const TreeSource& m_source;
    Selection m_selection;
    std::vector<Level> m_levels; // per depth
    FolderTotals m_rootTotals;
    const std::vector<FolderTotals>* m_ahead;
    std::size_t m_entered = 0;
    struct {
        const WalkFolder* parent = nullptr;
        const DirEntry* child = nullptr;
    } m_pending; // a subfolder the walk is about to enter, not yet written
    bool m_sorted;
};

// Writes nothing; keeps each folder's totals in the order the folders are entered.
class TotalsCounter final : public TreeWriter {
public:
    void beginDocument(const DocumentInfo&) override {}
    void enterFolder(const ExportEntry&, const FolderTotals*) override {
        m_open.push_back(totals.size());
        totals.emplace_back();
    }
    void file(const ExportEntry&) override {}
    void leaveFolder(const ExportEntry&, const FolderTotals& t) override {
        totals[m_open.back()] = t;
        m_open.pop_back();
    }
    void endDocument(const FolderTotals&) override {}

    std::vector<FolderTotals> totals;

private:
    std::vector<std::size_t> m_open;
};

} // namespace

void DiskTreeSource::walk(WalkVisitor& visitor, const WalkOptions& options) const {
    WalkTree(m_root, visitor, options);
}

MP3Info DiskTreeSource::mp3Info(const WalkFolder& folder, const DirEntry& entry,
                                const QString& displayPath, const WarningCallback& warning) const {
    return ReadMP3InfoIn(folder, entry, displayPath, warning);
}

std::vector<MediaInfo> DiskTreeSource::mediaInfo(const WalkFolder& folder,
                                                 const std::vector<const DirEntry*>& entries,
                                                 const QString& displayFolder,
                                                 const WarningCallback& warning) const {
    return ReadMediaInfoIn(folder, entries, displayFolder, warning);
}

void WriteTree(const RootPath& root, const ExportOptions& options, TreeWriter& writer,
               const QDateTime& exportTime, const TreeSource* source) {
    const DiskTreeSource disk(root);
    const TreeSource& from = source ? *source : disk;
    const DocumentInfo info{root, exportTime, QStringLiteral(TREELAN_VERSION), options};
    // Media files on disk are read by the walk's workers too, ahead of the writing.
    const auto walkOptions = [&](WalkOptions walk) {
        if (!source && options.mediaInfo && walk.jobs != 1)
            walk.readAhead = MediaReadAhead(walk.noFollow);
        else if (!source && options.mp3Info && walk.jobs != 1)
            walk.readAhead = Mp3ReadAhead(walk.noFollow);
        return walk;
    };
    std::vector<FolderTotals> ahead;
    if (writer.wantsTotalsFirst()) {
        // The same walk once more, ahead of the writing; it warns of nothing the writing will not.
        ExportOptions quiet = options;
        quiet.walk.warning = {};
        TotalsCounter counter;
        WriterVisitor counting(root, quiet, counter, from);
        from.walk(counting, walkOptions(quiet.walk));
        ahead = std::move(counter.totals);
    }
    writer.beginDocument(info);
    WriterVisitor visitor(root, options, writer, from, ahead.empty() ? nullptr : &ahead);
    from.walk(visitor, walkOptions(options.walk));
    writer.endDocument(visitor.rootTotals());
}

} // namespace treelan
