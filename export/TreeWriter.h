#pragma once

#include "export/ExportOptions.h"
#include "export/OutputBuffer.h"
#include "export/XmlText.h"
#include "format/EntryFormat.h"
#include "media/MediaInfo.h"
#include "media/Mp3Info.h"
#include "platform/DirWalker.h"
#include "platform/RootPath.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <vector>

namespace treelan {

// MP3 data of a file, as the texts the listing shows and as numbers.
struct Mp3Fields {
    QString durationText; // "00:04:10", or empty
    QString bitrateText;  // "128 kbps", "153 kbps (var.)", or empty
    qint64 seconds = -1;  // playing time; -1 when the file gave none
    int kbps = 0;         // bit rate; 0 when the file gave none
    bool vbr = false;     // variable bit rate (the Xing header's average)
};

// The reader's texts and the numbers behind them. The texts are the reader's one result, so the
// numbers are read back from them and can never disagree with what the listing and the XML show.
Mp3Fields Mp3FieldsOf(MP3Info info);

// One file or folder as a writer sees it. Views and pointers are valid during the call only.
struct ExportEntry {
    DirEntry::Kind kind = DirEntry::Kind::File;
    QStringView name;               // decoded for display; empty for the root
    QByteArrayView rawName;         // the bytes on disk
    QStringView folder;             // the containing folder relative to the root: "" or "a/b/"
    QByteArrayView rawFolder;       // the same in raw bytes
    int depth = 0;                  // 0 the root, 1 its entries, ...
    qint64 size = 0;                // bytes; 0 for folders and entries that could not be examined
    qint64 fileTime = 0;            // FILETIME (100 ns units since 1601-01-01 UTC); 0 when unknown
    const Mp3Fields* mp3 = nullptr; // set when MP3 information was asked for and read
    // Set with --media for a file with a media name: its tags, sizes and dates (its playing time
    // and bit rate are in `mp3`, as for MP3 files).
    const MediaInfo* media = nullptr;
    // Folders: whether their entries were read and written. False when the walk does not go
    // into subfolders, or when the folder could not be read (then `error` says why).
    bool listed = false;
    bool repeat = false; // a folder entered before elsewhere: not entered here (see `error`)
    // Why the entry could not be examined (no size, no time) or the folder not read (also: where
    // a folder reached again is listed); empty when nothing failed. A failed MP3 read is no error
    // here: it only leaves `mp3` null.
    QString error;

    bool isFolder() const { return kind == DirEntry::Kind::Folder; }
    bool examined() const { return kind != DirEntry::Kind::Unexamined; }
    // Path relative to the root: "a/b.txt", a folder "a/b/", the root "".
    QString relPath() const;
    QByteArray rawRelPath() const;
    // Modification time as seconds since 1970-01-01 UTC.
    qint64 unixTime() const;
};

// What a folder holds below it, in the document: every file and folder written beneath it.
struct FolderTotals {
    qint64 files = 0;
    qint64 folders = 0;
    ByteTotal bytes = 0; // exact, however many files of up to 2^63-1 bytes
    qint64 seconds = 0;  // playing time of the MP3 files read
};

// What a document says about itself.
struct DocumentInfo {
    const RootPath& root;
    QDateTime exportTime; // UTC
    QString programVersion;
    const ExportOptions& options;
};

// One output form. The walk calls, in this order:
//   beginDocument
//   enterFolder(root)
//     per subfolder, sorted by name without regard to case: enterFolder ... leaveFolder,
//     nested the same way when the walk goes into subfolders
//     then the folder's files, sorted the same way: file, file, ...
//   leaveFolder(root)
//   endDocument
// A folder's subfolders come before its files. The document's framing (prolog, MIME parts,
// closing lines) is the writer's own business in beginDocument and endDocument. Output goes
// through the OutputBuffer the writer was made with; write into its buffer() and spill().
class TreeWriter {
public:
    virtual ~TreeWriter() = default;
    virtual void beginDocument(const DocumentInfo& info) = 0;
    // `totals` is null unless wantsTotalsFirst().
    virtual void enterFolder(const ExportEntry& folder, const FolderTotals* totals) = 0;
    virtual void file(const ExportEntry& file) = 0;
    virtual void leaveFolder(const ExportEntry& folder, const FolderTotals& totals) = 0;
    virtual void endDocument(const FolderTotals& rootTotals) = 0;
    // True when enterFolder needs the folder's totals: the walk then counts each folder ahead
    // of writing it, which costs a second pass over the tree.
    virtual bool wantsTotalsFirst() const { return false; }
    // False when the document's order carries no meaning (ncdu's export): the walk then hands
    // over each folder's entries in the order the file system lists them, and saves the sort.
    virtual bool wantsSortedEntries() const { return true; }
};

// Where a document's tree comes from: the disk, or a copy of it kept earlier.
class TreeSource {
public:
    virtual ~TreeSource() = default;
    // Drives the visitor over the whole tree as WalkTree does, leaving out what `options` leave
    // out. Throws FileError when the root cannot be read.
    virtual void walk(WalkVisitor& visitor, const WalkOptions& options) const = 0;
    // The MP3 information of `entry`, a file of `folder`, during the folder's folderOpened.
    // Failures go to `warning` (which may be empty) and give empty texts.
    virtual MP3Info mp3Info(const WalkFolder& folder, const DirEntry& entry,
                            const QString& displayPath, const WarningCallback& warning) const = 0;
    // The media details of `entries`, files of `folder`, during the folder's folderOpened; the
    // same warnings and empty fields as mp3Info's when one fails.
    virtual std::vector<MediaInfo> mediaInfo(const WalkFolder& folder,
                                             const std::vector<const DirEntry*>& entries,
                                             const QString& displayFolder,
                                             const WarningCallback& warning) const = 0;
};

// The folder on disk: WalkTree, and MP3 information read from the files.
class DiskTreeSource final : public TreeSource {
public:
    explicit DiskTreeSource(const RootPath& root) : m_root(root) {}
    void walk(WalkVisitor& visitor, const WalkOptions& options) const override;
    MP3Info mp3Info(const WalkFolder& folder, const DirEntry& entry, const QString& displayPath,
                    const WarningCallback& warning) const override;
    std::vector<MediaInfo> mediaInfo(const WalkFolder& folder,
                                     const std::vector<const DirEntry*>& entries,
                                     const QString& displayFolder,
                                     const WarningCallback& warning) const override;

private:
    const RootPath& m_root;
};

// Walks `root` with `options` and drives the writer through one whole document. The tree comes
// from `source`, or from the disk when it is null.
void WriteTree(const RootPath& root, const ExportOptions& options, TreeWriter& writer,
               const QDateTime& exportTime = QDateTime::currentDateTimeUtc(),
               const TreeSource* source = nullptr);

} // namespace treelan
