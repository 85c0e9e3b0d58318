#pragma once

#include "media/MediaInfo.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>

namespace treelan {

// The web page's tree as columns, each deflated (zlib) through a stream of its own. A column's
// compressed bytes leave in pieces as they fill, so memory stays bounded however large the tree:
// the page feeds the pieces of one column, in order, to one inflater.
//
// Columns (all integers LEB128; "signed" ones zigzag):
//   fn  folder names, UTF-8, each ended by NUL (no name holds one); preorder, the root's empty
//   fd  folder depths, preorder (the root 0): the parents follow
//   fs  folder states, one byte each (FolderState)
//   nn  file names like fn, in the order given
//   ff  runs of files per folder: signed change of the folder number, then the run's length
//   sz  per file its size + 1; 0 when the file could not be examined
//   tm  per examined file the signed change of its time (seconds since 1970) from the last one
//   mp  per file with MP3 figures: files since the last such file, milliseconds, kbit/s
//   ty  per extension seen (lower case, "" for none): extension NUL type name NUL
//   md  per file with media fields (--media): files since the last such file, then each field of
//       kMediaFieldNames in its order, UTF-8, ended by NUL; the column is written only when a
//       file has any, so a page without media details is what it always was
class PageData {
public:
    enum class FolderState : unsigned char { Listed = 0, NotEntered = 1, Unreadable = 2 };
    enum Column { Fn, Fd, Fs, Nn, Ff, Sz, Tm, Mp, Ty, Md, ColumnCount };
    static const char* columnName(int column);

    // `piece(column, bytes)` receives every compressed piece, in order per column.
    using PieceSink = std::function<void(int column, const QByteArray& bytes)>;
    explicit PageData(PieceSink piece, qsizetype pieceSize = 192 * 1024);
    ~PageData();
    PageData(const PageData&) = delete;
    PageData& operator=(const PageData&) = delete;

    // Returns the folder's number (preorder, the root 0).
    qint64 addFolder(int depth, QStringView name, FolderState state = FolderState::Listed);
    // The state of the folder added last, known only once the walk has tried to read it.
    void setLastFolderState(FolderState state) { m_pendingState = state; }
    // `size` < 0: the file could not be examined (no size, no time). `durationMs` and `kbps` are
    // 0 when unknown.
    void addFile(qint64 folder, const QString& name, qint64 size, qint64 unixSeconds,
                 qint64 durationMs = 0, int kbps = 0, const MediaInfo* media = nullptr);
    // Ends every stream and hands out the last pieces.
    void finish();

    qint64 folders() const { return m_folders; }
    // Whether some file had media fields (the md column is written).
    bool hasMedia() const { return m_columns[Md] != nullptr; }
    qint64 files() const { return m_files; }

private:
    class Stream;
    void endRun();
    void putPendingState();

    PieceSink m_sink;
    qsizetype m_pieceSize = 0;
    std::array<std::unique_ptr<Stream>, ColumnCount> m_columns;
    qint64 m_folders = 0;
    qint64 m_files = 0;
    qint64 m_runFolder = -1;
    qint64 m_lastRunFolder = 0;
    qint64 m_runLength = 0;
    qint64 m_lastTime = 0;
    qint64 m_lastMp3 = -1;
    qint64 m_lastMedia = -1;
    QSet<QString> m_extensions;                // bounded: see kMaxExtensions
    std::array<QString, 8> m_recentExtensions; // answer most files without a lookup
    std::size_t m_nextRecent = 0;
    FolderState m_pendingState = FolderState::Listed;
    bool m_finished = false;
};

} // namespace treelan
