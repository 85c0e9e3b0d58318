#pragma once

#include "format/NamePattern.h"
#include "listing/ColumnLayout.h"
#include "listing/SegmentedVector.h"
#include "platform/BackgroundJob.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace treelan {

class SortSteps;

// The ten texts of a row as views, for adding rows without building their strings first. A
// subfolder row sets only the first six.
using FileEntryView = std::array<QStringView, kListingColumns>;

// A row's folder and name in the bytes they have on disk, given only where they differ from the
// UTF-8 form of the texts (names that are not valid UTF-8); a null view means "as the text".
struct RawRowNames {
    QByteArrayView folder;
    QByteArrayView name;
};

// Packed texts in chunks that never move: growing the store never copies what it holds (a
// vector of a hundred MiB doubling on the interface thread holds it up for a tenth of a second).
// A text run stays in one chunk; its offset is the chunk's index in the high 32 bits.
class TextArena {
public:
    // Room for `length` characters in one piece; returns its offset.
    qsizetype allocate(std::size_t length) {
        if (m_chunks.empty() || m_used + length > m_capacity) {
            m_capacity = std::max(length, kChunk);
            m_chunks.push_back(std::make_unique<char16_t[]>(m_capacity));
            m_used = 0;
        }
        const qsizetype at = qsizetype((quint64(m_chunks.size() - 1) << 32) | m_used);
        m_used += length;
        m_size += length;
        return at;
    }
    char16_t* at(qsizetype offset) const {
        return m_chunks[std::size_t(quint64(offset) >> 32)].get() + (quint64(offset) & 0xffffffffu);
    }
    // Characters allocated so far.
    std::size_t size() const { return m_size; }
    // Where each chunk starts: a reader on another thread finds the texts that were there when
    // it took them while more are added (chunks never move).
    std::vector<const char16_t*> chunkStarts() const {
        std::vector<const char16_t*> starts;
        starts.reserve(m_chunks.size());
        for (const auto& chunk : m_chunks)
            starts.push_back(chunk.get());
        return starts;
    }
    // Takes over the chunks of `other` (left empty) after its own, without copying a character;
    // returns the value to add to an offset of `other` to find its text here.
    qsizetype adopt(TextArena&& other) {
        const qsizetype base = qsizetype(quint64(m_chunks.size()) << 32);
        if (other.m_chunks.empty()) return base;
        for (auto& chunk : other.m_chunks)
            m_chunks.push_back(std::move(chunk));
        // Allocation goes on in the last chunk taken over.
        m_used = other.m_used;
        m_capacity = other.m_capacity;
        m_size += other.m_size;
        other = TextArena();
        return base;
    }

private:
    // 64 KiB: below the C library's threshold for a mapping of its own per allocation.
    static constexpr std::size_t kChunk = std::size_t(1) << 15;
    std::vector<std::unique_ptr<char16_t[]>> m_chunks;
    std::size_t m_used = 0, m_capacity = 0, m_size = 0;
};

// The listing's only store of rows. Rows are kept in sort order at all times while sorted mode is
// on (the default: column 0, ascending). The column layout a details view shows is columns().
class ListingModel : public QAbstractTableModel {
    Q_OBJECT

    static constexpr char16_t kMediaSeparator = 0x1F;

    // Texts of a row other than the folder and type name, in this order, packed into m_s.arena.
    enum PackedText : int {
        PName,
        PSize,
        PDate,
        PDuration,
        PBitrate,
        PSizeKey,
        PDateKey,
        PBitrateKey,
        kPackedTexts
    };
    // About 80 bytes plus the packed texts: a listing of 200,000 files stays within tens of MiB.
    struct Row {
        qsizetype offset = 0;  // first packed text in m_s.arena
        quint64 seq = 0;       // order of adding: ties keep it, so the order is strict
        quint32 folder = 0;    // index into Store::folders
        quint32 type = 0;      // index into Store::types; 0 is the empty text
        quint32 rawFolder = 0; // index into Store::rawFolders; 0: the folder text's UTF-8
        std::array<quint32, kPackedTexts> length{};
        bool subfolder = false;
        bool rawName = false; // the name's bytes are in Store::rawNames under seq
        bool media = false;   // media fields in Store::media under seq
        quint32 seconds = 0;  // the playing time's, for the totals
        quint64 bytes = 0;    // the size key's, for the totals
    };
    // A heading text the window's localisation set, in place of the one looked up by tag.
    struct Heading {
        QString text;
        bool set = false;
    };

    // Texts that many rows share (folders, type names), each kept once.
    struct SharedTexts {
        std::vector<QString> texts;
        // A hash that keeps each key's hash code: growing it only relinks the entries, where a
        // QHash hashes every text again (tens of milliseconds at the size of a large tree,
        // on the interface thread while a scan's rows arrive).
        struct Hasher {
            std::size_t operator()(const QString& text) const { return qHash(text); }
        };
        std::unordered_map<QString, quint32, Hasher> index;
        std::array<quint32, 8> recent{}; // recently used, tried before the hash
        std::size_t nextRecent = 0;
        quint32 intern(QStringView text);
    };

public:
    // The rows with their texts, apart from the model's other state: handed over whole between
    // models (takeRows, appendRows), so that a million rows can be freed off the interface thread.
    struct Store {
        Store();
        SegmentedVector<Row> rows;
        TextArena arena;
        std::size_t liveChars = 0; // arena characters that belong to rows still in the list
        SharedTexts folders, types;
        // Raw bytes that differ from their texts' UTF-8: rarely any, so kept apart from the rows.
        std::vector<QByteArray> rawFolders{QByteArray()};
        QHash<QByteArray, quint32> rawFolderIndex;
        QHash<quint64, QByteArray> rawNames;
        QHash<quint64, QString> media; // a row's media fields, joined by kMediaSeparator
        quint64 nextSeq = 0;
    };

    explicit ListingModel(QObject* parent = nullptr);
    // Stops a background sort still running.
    ~ListingModel() override;

    // --- rows ---
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Stores a heading text (the window's localisation); until then a heading is looked up
    // from its column tag.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Adds a row; in sorted mode it goes to its place, else to the end. Returns its row.
    int addRow(const FileEntryView& entry, bool subfolderRow = false, RawRowNames raw = {});
    // Between these, added rows go to the end unsorted; endBatch sorts once. Nested calls count.
    void beginBatch();
    void endBatch();
    void clear();
    // Empties the model (one reset) and hands its rows over, for the caller to free where it
    // likes: freeing a million rows holds up the thread that does it.
    Store takeRows();
    // Appends the rows of `rows` at the end, whatever the sort, taking over their texts without
    // copying them: a scan in the background hands its rows over in batches of tens of thousands
    // (sortInBackground then puts them in order).
    void appendRows(Store rows);
    // Removes the given rows (ascending, no repeats) in one pass, however scattered they are.
    void removeRowsAt(const std::vector<int>& rows);

    // Field `column` (0 = the row text, k = sub-item k); empty for a missing field.
    QString text(int row, int column) const;
    // The same without a copy; valid until the rows change.
    QStringView cell(int row, int column) const;
    // Asks the processor to fetch a row's texts ahead of reading them: after a sort the rows'
    // texts lie in the order they were added, and reading them in list order would otherwise
    // wait on memory for nearly every row.
    void prefetch(int row) const {
        if (row >= 0 && row < rowCount())
            __builtin_prefetch(m_s.arena.at(m_s.rows[storeRow(row)].offset));
    }
    bool isSubfolderRow(int row) const;
    // The row's place in the order rows were added (appended stores continue the count): a key
    // that follows the row through sorts, for what a view keeps beside the rows.
    quint64 addedOrder(int row) const { return m_s.rows[storeRow(row)].seq; }
    // The row's path relative to the root in raw bytes: folder + name, or a subfolder row's
    // folder ("Sub/"). It names the row's file apart from any other that reads the same.
    QByteArray rawPath(int row) const;

    // --- sorting ---
    int sortKey() const { return m_sortKey; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    void setSortKey(int column);
    void setSortOrder(Qt::SortOrder order);
    void setSorted(bool sorted);
    // Puts the rows in sort order on a thread of its own while they stay readable here (a million
    // rows take half a second to sort). backgroundSortDone() follows on this object's thread. Any
    // change to the rows meanwhile stops the sort first; after adding or removing rows it starts
    // again, a sort asked for here takes its place (and is done), and emptying the model ends it.
    void sortInBackground();
    // The cell comparison of sorted mode: letter case ignored.
    static int compareTexts(QStringView a, QStringView b);
    // The key columns (size, date, bit rate) hold zero-padded numbers; longer digit strings are
    // larger numbers, so a size of 1 TB or more does not sort before 999 GB.
    static int compareKeys(QStringView a, QStringView b);

    // --- filtering ---
    // Shows only the rows whose name matches `pattern` (NamePattern's syntax; a subfolder row goes
    // by its folder's own name); a pattern that matches everything shows every row again. Row
    // numbers everywhere (rowCount, text, rawPath, removeRows...) are then those of the shown rows.
    // The rows are matched on a thread of their own while the last filter's rows stay shown;
    // filterApplied() follows, and the shown rows change in one layout change that keeps the
    // persistent indexes (the selection) of the rows that stay. Rows added meanwhile are matched
    // as they come. Sorting and removing keep the filter.
    void setFilter(const QString& pattern);
    // The pattern last given, and whether the one shown hides rows.
    const QString& filter() const { return m_filterText; }
    bool isFiltered() const { return m_filtered; }
    // A pattern given is still being matched, or rows added under a filter wait to be.
    bool isFilterPending() const { return m_filterJob != nullptr || m_sliceQueued; }
    // Rows held, shown or hidden.
    int storedRowCount() const { return int(m_s.rows.size()); }
    // The raw paths (as rawPath gives them) of the rows the filter hides, and whether each is a
    // subfolder row.
    void forEachHiddenRow(const std::function<void(const QByteArray&, bool)>& visit) const;

    // --- totals ---
    struct Totals {
        qint64 files = 0;
        qint64 folders = 0;  // subfolder rows
        quint64 bytes = 0;   // the files' sizes
        quint64 seconds = 0; // their playing times
        Totals& operator+=(const Totals& o) {
            files += o.files, folders += o.folders, bytes += o.bytes, seconds += o.seconds;
            return *this;
        }
        Totals& operator-=(const Totals& o) {
            files -= o.files, folders -= o.folders, bytes -= o.bytes, seconds -= o.seconds;
            return *this;
        }
        bool operator==(const Totals&) const = default;
    };
    // Of all shown rows: kept as rows come, go and are filtered.
    const Totals& shownTotals() const { return m_filtered ? m_shownTotals : m_allTotals; }
    // Of the shown rows first to last.
    Totals totals(int first, int last) const;

    // --- columns ---
    ColumnLayout& columns() { return m_layout; }
    const ColumnLayout& columns() const { return m_layout; }
    // Whether sorting by a column compares numbers (track, year, dimensions by area) rather than
    // texts; the key columns' numbers are compareKeys'.
    static bool isNumericMediaColumn(int column);

signals:
    // The rows sortInBackground() was asked to order are in order.
    void backgroundSortDone();
    // The rows of the pattern setFilter() was last given are the ones shown.
    void filterApplied();

private:
    // The rows in sort order and, per row, its place among them; empty when `stop` was set.
    struct SortedRows {
        SegmentedVector<Row> rows;
        std::vector<quint32> newRowOf;
    };
    // `twoThreads`: the caller's thread is waiting anyway (a background sort), so a large sort
    // takes a second processor.
    SortedRows sortedRows(const std::atomic<bool>* stop, bool twoThreads) const;
    static constexpr std::size_t kTwoThreadRows = 65536;
    struct SortItem;
    // The steps of a sort: each row's item, the items in order (the order is strict: the adding
    // order breaks ties).
    std::vector<SortItem> sortItems(SortSteps& step) const;
    void orderItems(std::vector<SortItem>& items, SortSteps& step, const std::atomic<bool>* stop,
                    bool twoThreads) const;
    // The order of two items' cells where their prefixes cannot decide it; `key`: a key column.
    int compareCells(const SortItem& a, const SortItem& b, bool key) const;
    // Puts `sorted` in place of the rows; persistent indexes follow their rows.
    void placeSorted(SortedRows& sorted, bool signal);
    // Stops a background sort; true when one was running.
    bool stopBackgroundSort();
    // Stops a background sort for a change to the rows and starts it again afterwards.
    class SortPause;
    // A sort in the foreground has done what a stopped background sort was to do: say so.
    void settleOwedSort();
    // Puts a finished background sort's rows in place; asked for by name from its thread.
    Q_INVOKABLE void placeBackgroundSort();

    // The rows a filter shows and their totals.
    struct FilterMatch {
        std::vector<quint32> shown; // store rows, ascending
        Totals totals;
    };
    // A filter's matching on its own thread, over what the store held when it started.
    struct FilterJobResult {
        FilterMatch match;
        bool stopped = false;
    };
    // Stops a filter's matching for a change to the rows and starts it again afterwards.
    class FilterPause;
    void startFilterJob();
    bool stopFilterJob();
    // Puts a finished filter's rows in place; asked for by name from its thread.
    Q_INVOKABLE void placeFilter();
    // Matches the next slice of rows that wait, and asks for the next turn while more do.
    Q_INVOKABLE void matchSlice();
    void queueSlice();
    // Matches every row that waits, at once: before rows move or go. `limit`: at most that many.
    void catchUp(std::size_t limit = std::size_t(-1));
    // Shows the rows of `match`, all after the shown ones.
    void appendShown(const FilterMatch& match);
    // Matches store rows [first, last) here, appending to `into`.
    void matchRows(const NamePattern& pattern, std::size_t first, std::size_t last,
                   FilterMatch& into) const;
    // Shows the store rows `shown` (ascending), or all when `filtered` is false, in one layout
    // change; persistent indexes follow their rows.
    void showRows(bool filtered, std::vector<quint32> shown, const Totals& totals);
    // The store row of a shown row, and the shown row of a store row (-1: hidden).
    std::size_t storeRow(int row) const {
        return m_filtered ? std::size_t(m_shown[std::size_t(row)]) : std::size_t(row);
    }
    int shownRow(std::size_t storeRow) const;
    // After store rows moved (`newRowOf`: old store row -> new): the shown list follows them.
    void followMovedRows(const std::vector<quint32>& newRowOf);
    // After the store rows `removed` (ascending) left: the shown list drops and renumbers them.
    void followRemovedRows(const std::vector<std::size_t>& removed);
    static void addToTotals(const Row& row, Totals& totals);
    // Drops the store rows `rows` (ascending) and follows with the shown list.
    void removeStoreRows(const std::vector<std::size_t>& rows);

    Row makeRow(const FileEntryView& e, bool subfolder, RawRowNames raw);
    QByteArray rawPathOf(const Row& row) const;
    quint32 internRawFolder(const QByteArray& bytes);
    QStringView packed(const Row& row, int text) const;
    QStringView view(const Row& row, int column) const;
    // Sort ranks of the shared texts (folders, types), so comparing those columns is an integer
    // comparison.
    std::vector<quint32> ranks(const std::vector<QString>& texts) const;
    // `signal` false inside a model reset, which already tells the views.
    void sortRows(bool signal = true);
    void compactArena();
    static std::size_t packedLength(const Row& row);

    Store m_s;
    ColumnLayout m_layout;
    std::array<Heading, kListingColumns> m_headings;
    int m_batch = 0;
    int m_sortKey = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = true;
    std::unique_ptr<BackgroundJob<std::unique_ptr<SortedRows>>> m_background;
    Disposer m_disposer;     // frees the rows a background sort replaced
    bool m_sortOwed = false; // a background sort was stopped and its done signal not yet sent

    QString m_filterText;
    NamePattern m_applied;   // the pattern of the rows shown
    NamePattern m_pending;   // the pattern being matched
    bool m_filtered = false; // m_shown holds the shown rows; else every row is shown
    std::vector<quint32> m_shown;
    Totals m_allTotals, m_shownTotals;
    std::unique_ptr<BackgroundJob<FilterJobResult>> m_filterJob;
    std::size_t m_filterJobRows = 0; // the store rows the job matches: those before this
    FilterMatch m_filterTail;        // rows added since, matched here
    // Rows added while a filter holds are matched here a slice at a time, on later turns of the
    // event loop (a scan hands over a large folder's rows at once): store rows from
    // m_appliedUpTo on wait for the shown pattern, from m_tailUpTo on for the one being matched.
    std::size_t m_appliedUpTo = 0, m_tailUpTo = 0;
    bool m_sliceQueued = false;
};

} // namespace treelan
