#include "listing/ListingModel.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"
#include "settings/StringTable.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

namespace treelan {

namespace {
std::array<quint64, 2> mediaNumber(int column, QStringView text);
} // namespace

ListingModel::Store::Store() {
    types.intern(QString()); // type 0: no type name
}

// Stops a background sort for a change to the rows, and starts it again once the change is made.
class ListingModel::SortPause {
public:
    explicit SortPause(ListingModel& model)
        : m_model(model), m_resume(model.stopBackgroundSort()) {}
    ~SortPause() {
        if (m_resume) m_model.sortInBackground();
    }
    SortPause(const SortPause&) = delete;
    SortPause& operator=(const SortPause&) = delete;

private:
    ListingModel& m_model;
    bool m_resume;
};

// Stops a filter's matching for a change to the rows, and starts it again once the change is made.
class ListingModel::FilterPause {
public:
    explicit FilterPause(ListingModel& model) : m_model(model), m_resume(model.stopFilterJob()) {}
    ~FilterPause() {
        if (m_resume) m_model.startFilterJob();
    }
    FilterPause(const FilterPause&) = delete;
    FilterPause& operator=(const FilterPause&) = delete;

private:
    ListingModel& m_model;
    bool m_resume;
};

ListingModel::ListingModel(QObject* parent) : QAbstractTableModel(parent) {}

ListingModel::~ListingModel() {
    stopFilterJob();
    stopBackgroundSort();
}

int ListingModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return int(m_filtered ? m_shown.size() : m_s.rows.size());
}

int ListingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kListingColumns;
}

QVariant ListingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kListingColumns)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return view(m_s.rows[storeRow(index.row())], index.column()).toString();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_layout.columnAlignment(index.column()) | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ListingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kListingColumns) return {};
    if (role == Qt::DisplayRole) {
        const Heading& heading = m_headings[std::size_t(section)];
        if (heading.set) return heading.text;
        const QString tag = m_layout.columnTag(section);
        if (section >= ColMedia) return tag; // the media field's own heading
        return tag.isEmpty() ? QString() : GetGuiString(tag);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_layout.columnAlignment(section) | Qt::AlignVCenter);
    return {};
}

bool ListingModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                 int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kListingColumns ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    m_headings[std::size_t(section)] = {value.toString(), true};
    emit headerDataChanged(orientation, section, section);
    return true;
}

quint32 ListingModel::SharedTexts::intern(QStringView text) {
    // A scan hands over the same folder for a run of rows, and a few type names in turn.
    for (const quint32 i : recent)
        if (i < texts.size() && texts[i] == text) return i;
    QString copy = text.toString();
    const auto [it, added] = index.try_emplace(copy, quint32(texts.size()));
    if (added) texts.push_back(std::move(copy));
    recent[nextRecent++ % recent.size()] = it->second;
    return it->second;
}

ListingModel::Row ListingModel::makeRow(const FileEntryView& e, bool subfolder, RawRowNames raw) {
    Row r;
    r.seq = m_s.nextSeq++;
    r.subfolder = subfolder;
    r.folder = m_s.folders.intern(e[ColFolder]);
    if (!raw.folder.isNull()) r.rawFolder = internRawFolder(raw.folder.toByteArray());
    if (!raw.name.isNull()) {
        r.rawName = true;
        m_s.rawNames.insert(r.seq, raw.name.toByteArray());
    }
    // Media fields are rare in a listing: kept apart, joined by U+001F, only for rows with any.
    if (!subfolder && std::any_of(e.begin() + ColMedia, e.end(),
                                  [](QStringView field) { return !field.isEmpty(); })) {
        QString media;
        for (int c = ColMedia; c < kListingColumns; ++c) {
            if (c > ColMedia) media += QChar(kMediaSeparator);
            for (QChar ch : e[std::size_t(c)])
                media += ch == QChar(kMediaSeparator) ? QChar(u' ') : ch;
        }
        r.media = true;
        m_s.media.insert(r.seq, media);
    }
    static constexpr int kColumnOf[kPackedTexts] = {
        ColName, ColSize, ColDate, ColDuration, ColBitrate, ColSizeKey, ColDateKey, ColBitrateKey};
    // A subfolder row has no fields beyond the sixth.
    const int count = subfolder ? PSizeKey : kPackedTexts;
    if (!subfolder && !e[ColTypeName].isEmpty()) r.type = m_s.types.intern(e[ColTypeName]);
    std::size_t total = 0;
    for (int t = 0; t < count; ++t)
        total += std::size_t(e[std::size_t(kColumnOf[t])].size());
    r.offset = m_s.arena.allocate(total);
    char16_t* out = m_s.arena.at(r.offset);
    for (int t = 0; t < count; ++t) {
        const QStringView text = e[std::size_t(kColumnOf[t])];
        r.length[std::size_t(t)] = quint32(text.size());
        CopyBytes(out, text.data(), std::size_t(text.size()) * sizeof(char16_t));
        out += text.size();
    }
    m_s.liveChars += total;
    if (!subfolder) {
        for (const QChar c : e[ColSizeKey]) {
            if (c < u'0' || c > u'9') break;
            r.bytes = r.bytes * 10 + quint64(c.unicode() - u'0');
        }
        // "h:mm:ss", the hours as many digits as they take.
        quint32 seconds = 0, part = 0;
        for (const QChar c : e[ColDuration]) {
            if (c == u':') {
                seconds = (seconds + part) * 60, part = 0;
            } else if (c >= u'0' && c <= u'9') {
                part = part * 10 + quint32(c.unicode() - u'0');
            } else {
                seconds = part = 0;
                break;
            }
        }
        r.seconds = seconds + part;
    }
    return r;
}

QStringView ListingModel::packed(const Row& row, int text) const {
    qsizetype at = 0;
    for (int t = 0; t < text; ++t)
        at += row.length[std::size_t(t)];
    return QStringView(m_s.arena.at(row.offset) + at, qsizetype(row.length[std::size_t(text)]));
}

QStringView ListingModel::view(const Row& row, int column) const {
    switch (column) {
    case ColName:
        return packed(row, PName);
    case ColFolder:
        return m_s.folders.texts[row.folder];
    case ColSize:
        return packed(row, PSize);
    case ColDate:
        return packed(row, PDate);
    case ColDuration:
        return packed(row, PDuration);
    case ColBitrate:
        return packed(row, PBitrate);
    case ColTypeName:
        return m_s.types.texts[row.type];
    case ColSizeKey:
        return packed(row, PSizeKey);
    case ColDateKey:
        return packed(row, PDateKey);
    case ColBitrateKey:
        return packed(row, PBitrateKey);
    default:
        if (column < ColMedia || column >= kListingColumns || !row.media) return {};
        const auto it = m_s.media.constFind(row.seq);
        if (it == m_s.media.constEnd()) return {};
        QStringView rest(*it);
        for (int c = ColMedia; c < column; ++c)
            rest = rest.sliced(rest.indexOf(QChar(kMediaSeparator)) + 1);
        const qsizetype end = rest.indexOf(QChar(kMediaSeparator));
        return end < 0 ? rest : rest.first(end);
    }
}

int ListingModel::compareTexts(QStringView a, QStringView b) {
    // ASCII letters are folded by hand; from the first other character on, Qt's own
    // case-insensitive comparison decides.
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x >= 0x80 || y >= 0x80)
            return QStringView(a.mid(i)).compare(b.mid(i), Qt::CaseInsensitive);
        if (x >= u'A' && x <= u'Z') x = char16_t(x + 0x20);
        if (y >= u'A' && y <= u'Z') y = char16_t(y + 0x20);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int ListingModel::compareKeys(QStringView a, QStringView b) {
    auto digits = [](QStringView t) {
        for (const QChar c : t)
            if (c < u'0' || c > u'9') return false;
        return !t.isEmpty();
    };
    if (digits(a) && digits(b)) {
        auto significant = [](QStringView t) {
            qsizetype i = 0;
            while (i + 1 < t.size() && t[i] == u'0')
                ++i;
            return t.mid(i);
        };
        const QStringView x = significant(a), y = significant(b);
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        return x.compare(y);
    }
    return compareTexts(a, b);
}

std::vector<quint32> ListingModel::ranks(const std::vector<QString>& texts) const {
    std::vector<quint32> order(texts.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = quint32(i);
    std::sort(order.begin(), order.end(), [&](quint32 a, quint32 b) {
        const int c = compareTexts(texts[a], texts[b]);
        return c != 0 ? c < 0 : a < b;
    });
    // Equal texts (differing only in case) share a rank, so the adding order breaks their tie.
    std::vector<quint32> rank(texts.size());
    quint32 r = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compareTexts(texts[order[i - 1]], texts[order[i]]) != 0) ++r;
        rank[order[i]] = r;
    }
    return rank;
}

int ListingModel::addRow(const FileEntryView& entry, bool subfolderRow, RawRowNames raw) {
    SortPause pause(*this);
    Row r = makeRow(entry, subfolderRow, raw);
    addToTotals(r, m_allTotals);
    if (m_batch > 0) {
        m_s.rows.push_back(r);
        return int(m_s.rows.size()) - 1;
    }
    FilterPause filterPause(*this);
    catchUp();
    std::size_t at = m_s.rows.size();
    if (m_sorted) {
        // Find the place by comparing the new row's cell with the others' one by one.
        const bool desc = m_sortOrder == Qt::DescendingOrder;
        const bool key = m_sortKey >= ColSizeKey && m_sortKey <= ColBitrateKey;
        const bool number = isNumericMediaColumn(m_sortKey);
        const QStringView mine = view(r, m_sortKey);
        const auto mineNumber = number ? mediaNumber(m_sortKey, mine) : std::array<quint64, 2>{};
        const auto compare = [&](QStringView t) {
            if (!number) return key ? compareKeys(t, mine) : compareTexts(t, mine);
            const auto n = mediaNumber(m_sortKey, t);
            return n < mineNumber ? -1 : (mineNumber < n ? 1 : 0);
        };
        at = std::size_t(std::partition_point(m_s.rows.begin(), m_s.rows.end(),
                                              [&](const Row& other) {
                                                  int c = compare(view(other, m_sortKey));
                                                  if (desc) c = -c;
                                                  return c <= 0;
                                              }) -
                         m_s.rows.begin());
    }
    if (m_filtered) {
        // The shown rows from `at` on move down one in the store.
        const auto from = std::lower_bound(m_shown.begin(), m_shown.end(), quint32(at));
        for (auto it = from; it != m_shown.end(); ++it)
            ++*it;
        FilterMatch match;
        m_s.rows.insert(at, r);
        m_appliedUpTo = m_s.rows.size();
        matchRows(m_applied, at, at + 1, match);
        if (match.shown.empty()) return -1; // hidden by the filter
        const int shownAt = int(from - m_shown.begin());
        beginInsertRows({}, shownAt, shownAt);
        m_shown.insert(m_shown.begin() + shownAt, quint32(at));
        m_shownTotals += match.totals;
        endInsertRows();
        return shownAt;
    }
    beginInsertRows({}, int(at), int(at));
    m_s.rows.insert(at, r);
    endInsertRows();
    return int(at);
}

void ListingModel::beginBatch() {
    // A batch is one reset for the views: no signal per row, one sort at its end.
    if (m_batch++ == 0) {
        stopBackgroundSort();
        beginResetModel();
    }
}

void ListingModel::endBatch() {
    if (m_batch == 0 || --m_batch > 0) return;
    m_appliedUpTo = m_s.rows.size(); // matched below, all at once, inside the reset
    if (m_sorted) sortRows(false);
    m_s.rows.shrink_to_fit();
    if (m_filtered) {
        FilterMatch match;
        matchRows(m_applied, 0, m_s.rows.size(), match);
        m_shown = std::move(match.shown);
        m_shownTotals = match.totals;
    }
    m_appliedUpTo = m_s.rows.size();
    endResetModel();
    if (m_sorted) settleOwedSort();
}

void ListingModel::clear() {
    takeRows(); // freed here
}

ListingModel::Store ListingModel::takeRows() {
    stopBackgroundSort(); // the rows it sorts are leaving
    m_sortOwed = false;
    FilterPause filterPause(*this); // the filter holds for the rows to come
    if (m_batch == 0) beginResetModel();
    Store taken = std::exchange(m_s, Store());
    m_shown.clear();
    m_shownTotals = m_allTotals = Totals();
    m_appliedUpTo = m_tailUpTo = 0;
    if (m_batch == 0) endResetModel();
    return taken;
}

void ListingModel::appendRows(Store rows) {
    if (rows.rows.empty()) return;
    SortPause pause(*this);
    // A filter being matched goes on: it reads only the rows before these, which stay in place.
    const int at = rowCount();
    const bool signal = m_batch == 0 && !m_filtered;
    if (signal) beginInsertRows({}, at, at + int(rows.rows.size()) - 1);
    // The texts stay where they are; only the rows' references to them are renumbered, and the
    // shared texts are looked up once each rather than once per row.
    const qsizetype arenaBase = m_s.arena.adopt(std::move(rows.arena));
    m_s.liveChars += rows.liveChars;
    auto mapShared = [](SharedTexts& into, const SharedTexts& from) {
        std::vector<quint32> map(from.texts.size());
        for (std::size_t i = 0; i < map.size(); ++i)
            map[i] = into.intern(from.texts[i]);
        return map;
    };
    const std::vector<quint32> folderOf = mapShared(m_s.folders, rows.folders);
    const std::vector<quint32> typeOf = mapShared(m_s.types, rows.types);
    std::vector<quint32> rawFolderOf(rows.rawFolders.size(), 0);
    for (std::size_t i = 1; i < rawFolderOf.size(); ++i)
        rawFolderOf[i] = internRawFolder(rows.rawFolders[i]);
    const quint64 seqBase = m_s.nextSeq;
    quint64 lastSeq = 0;
    for (Row r : rows.rows) {
        if (r.rawName) m_s.rawNames.insert(seqBase + r.seq, rows.rawNames.value(r.seq));
        if (r.media) m_s.media.insert(seqBase + r.seq, rows.media.value(r.seq));
        r.offset += arenaBase;
        r.folder = folderOf[r.folder];
        r.type = typeOf[r.type];
        r.rawFolder = rawFolderOf[r.rawFolder];
        lastSeq = std::max(lastSeq, r.seq);
        r.seq += seqBase;
        addToTotals(r, m_allTotals);
        m_s.rows.push_back(r);
    }
    m_s.nextSeq = seqBase + std::max(lastSeq + 1, rows.nextSeq);
    if (signal) endInsertRows();
    // Rows that arrive while a filter holds are matched as they come, a slice at a time.
    if (m_filtered || m_filterJob) queueSlice();
}

QString ListingModel::text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kListingColumns) return {};
    return view(m_s.rows[storeRow(row)], column).toString();
}

QStringView ListingModel::cell(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kListingColumns) return {};
    return view(m_s.rows[storeRow(row)], column);
}

bool ListingModel::isSubfolderRow(int row) const {
    return row >= 0 && row < rowCount() && m_s.rows[storeRow(row)].subfolder;
}

quint32 ListingModel::internRawFolder(const QByteArray& bytes) {
    auto it = m_s.rawFolderIndex.constFind(bytes);
    if (it == m_s.rawFolderIndex.constEnd()) {
        it = m_s.rawFolderIndex.insert(bytes, quint32(m_s.rawFolders.size()));
        m_s.rawFolders.push_back(bytes);
    }
    return *it;
}

QByteArray ListingModel::rawPath(int row) const {
    if (row < 0 || row >= rowCount()) return {};
    return rawPathOf(m_s.rows[storeRow(row)]);
}

QByteArray ListingModel::rawPathOf(const Row& r) const {
    QByteArray path = r.rawFolder != 0 ? m_s.rawFolders[r.rawFolder] : ToUTF8(view(r, ColFolder));
    if (!r.subfolder) path += r.rawName ? m_s.rawNames.value(r.seq) : ToUTF8(view(r, ColName));
    return path;
}

bool ListingModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount()) return false;
    SortPause pause(*this);
    FilterPause filterPause(*this);
    catchUp();
    beginRemoveRows({}, row, row + count - 1);
    Totals removed;
    for (int r = row; r < row + count; ++r) {
        const Row& gone = m_s.rows[storeRow(r)];
        m_s.liveChars -= packedLength(gone);
        addToTotals(gone, removed);
    }
    if (m_filtered) {
        std::vector<std::size_t> stores;
        for (int r = row; r < row + count; ++r)
            stores.push_back(storeRow(r));
        removeStoreRows(stores);
        m_shownTotals -= removed;
    } else {
        m_s.rows.erase(std::size_t(row), std::size_t(row + count));
    }
    m_allTotals -= removed;
    m_appliedUpTo = m_s.rows.size();
    endRemoveRows();
    compactArena();
    return true;
}

void ListingModel::removeStoreRows(const std::vector<std::size_t>& rows) {
    std::size_t next = 0, kept = 0;
    for (std::size_t r = 0; r < m_s.rows.size(); ++r) {
        if (next < rows.size() && rows[next] == r) {
            ++next;
            continue;
        }
        m_s.rows[kept++] = m_s.rows[r];
    }
    m_s.rows.resize(kept);
    followRemovedRows(rows);
}

void ListingModel::removeRowsAt(const std::vector<int>& rows) {
    if (rows.empty()) return;
    SortPause pause(*this);
    FilterPause filterPause(*this);
    catchUp();
    beginResetModel();
    // Shown rows ascending are store rows ascending.
    std::vector<std::size_t> stores;
    stores.reserve(rows.size());
    Totals removed;
    for (const int row : rows) {
        stores.push_back(storeRow(row));
        const Row& gone = m_s.rows[stores.back()];
        m_s.liveChars -= packedLength(gone);
        addToTotals(gone, removed);
    }
    removeStoreRows(stores);
    m_allTotals -= removed;
    if (m_filtered) m_shownTotals -= removed;
    m_appliedUpTo = m_s.rows.size();
    compactArena();
    endResetModel();
}

std::size_t ListingModel::packedLength(const Row& row) {
    std::size_t total = 0;
    for (quint32 l : row.length)
        total += l;
    return total;
}

void ListingModel::compactArena() {
    // Removed rows leave their texts behind; once they are most of the arena, repack it.
    if (m_s.liveChars * 2 >= m_s.arena.size()) return;
    TextArena arena;
    for (Row& r : m_s.rows) {
        const std::size_t length = packedLength(r);
        const qsizetype at = arena.allocate(length);
        CopyBytes(arena.at(at), m_s.arena.at(r.offset), length * sizeof(char16_t));
        r.offset = at;
    }
    m_s.arena = std::move(arena);
}

namespace {

// The first sixteen code units, folded as compareTexts folds them, one byte each: for plain ASCII
// text the prefixes order exactly as the texts do wherever they differ. False when a character
// in that range is not ASCII, so only a full comparison can tell.
bool textPrefix(QStringView text, std::array<quint64, 2>& prefix) {
    prefix = {0, 0};
    const qsizetype n = std::min<qsizetype>(text.size(), 16);
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = text[i].unicode();
        if (c >= 0x80) return false;
        if (c >= u'A' && c <= u'Z') c = char16_t(c + 0x20);
        prefix[std::size_t(i / 8)] |= quint64(c) << (56 - 8 * (i % 8));
    }
    return true;
}

// An empty key is 0 and a key of up to 19 significant digits its value plus one, which orders
// them as compareKeys does. False for anything else.
bool numericKey(QStringView text, std::array<quint64, 2>& prefix) {
    prefix = {0, 0};
    quint64& value = prefix[0];
    if (text.isEmpty()) return true;
    int digits = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') return false;
        if (value == 0 && c == u'0') continue;
        if (++digits > 19) return false;
        value = value * 10 + quint64(c.unicode() - u'0');
    }
    ++value;
    return true;
}

// A media field that holds a number, as numbers order: empty first, then by value (a track's
// "3/12" by its 3, dimensions "1920x1080" by area, then width), then texts that hold none.
std::array<quint64, 2> mediaNumber(int column, QStringView text) {
    if (text.isEmpty()) return {0, 0};
    const auto number = [&text](qsizetype& at, quint64& value) {
        const qsizetype start = at;
        value = 0;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && at - start < 18)
            value = value * 10 + quint64(text[at++].unicode() - u'0');
        return at > start;
    };
    qsizetype at = 0;
    quint64 first = 0, second = 0;
    if (!number(at, first)) return {~quint64(0), 0};
    if (column != ColMedia + int(MediaField::Dimensions)) return {first + 1, 0};
    if (at >= text.size() || text[at] != u'x' || !number(++at, second)) return {~quint64(0), 0};
    return {first * second + 1, first};
}

// Thrown from within a sort that was asked to stop.
struct SortStopped {};

} // namespace

// Counts a sort's steps and looks at its stop flag every few thousand of them, so that a stop
// takes effect within a millisecond. One per thread.
class SortSteps {
public:
    explicit SortSteps(const std::atomic<bool>* stop) : m_stop(stop) {}
    void operator()() {
        if (m_stop && ++m_steps % 4096 == 0 && m_stop->load(std::memory_order_relaxed))
            throw SortStopped{};
    }

private:
    const std::atomic<bool>* m_stop;
    unsigned m_steps = 0;
};

// A row's place in a sort: a 128-bit prefix decides most comparisons, and only rows whose prefix
// cannot decide (equal, or not plain ASCII) compare their texts.
struct ListingModel::SortItem {
    std::array<quint64, 2> prefix;
    quint64 seq;
    quint32 row;
    bool exact;    // a different prefix decides
    bool complete; // an equal prefix decides too: the prefix is the whole text
};

std::vector<ListingModel::SortItem> ListingModel::sortItems(SortSteps& step) const {
    const std::size_t n = m_s.rows.size();
    std::vector<SortItem> items(n);
    const bool shared = m_sortKey == ColFolder || m_sortKey == ColTypeName;
    const bool key = m_sortKey >= ColSizeKey && m_sortKey <= ColBitrateKey;
    const bool number = isNumericMediaColumn(m_sortKey);
    std::vector<quint32> rank;
    if (shared) rank = ranks(m_sortKey == ColFolder ? m_s.folders.texts : m_s.types.texts);
    for (std::size_t r = 0; r < n; ++r) {
        step();
        const Row& row = m_s.rows[r];
        SortItem& item = items[r];
        item.row = quint32(r);
        item.seq = row.seq;
        if (shared) {
            item.prefix = {rank[m_sortKey == ColFolder ? row.folder : row.type], 0};
            item.exact = item.complete = true;
        } else if (number) {
            item.prefix = mediaNumber(m_sortKey, view(row, m_sortKey));
            item.exact = item.complete = true;
        } else if (key) {
            item.exact = item.complete = numericKey(view(row, m_sortKey), item.prefix);
        } else {
            const QStringView text = view(row, m_sortKey);
            item.exact = textPrefix(text, item.prefix);
            item.complete = item.exact && text.size() <= 16;
        }
    }
    return items;
}

int ListingModel::compareCells(const SortItem& a, const SortItem& b, bool key) const {
    const QStringView x = view(m_s.rows[a.row], m_sortKey), y = view(m_s.rows[b.row], m_sortKey);
    return key ? compareKeys(x, y) : compareTexts(x, y);
}

void ListingModel::orderItems(std::vector<SortItem>& items, SortSteps& step,
                              const std::atomic<bool>* stop, bool twoThreads) const {
    const bool key = m_sortKey >= ColSizeKey && m_sortKey <= ColBitrateKey,
               desc = m_sortOrder == Qt::DescendingOrder;
    auto orderWith = [this, key, desc](SortSteps& steps) {
        return [this, key, desc, &steps](const SortItem& a, const SortItem& b) {
            steps();
            // The prefixes decide most comparisons, here in the sort's loop (as a call, a sort
            // took a third longer); the cells' texts where they cannot.
            int c = 0;
            if (a.exact && b.exact && a.prefix[0] != b.prefix[0])
                c = a.prefix[0] < b.prefix[0] ? -1 : 1;
            else if (a.exact && b.exact && a.prefix[1] != b.prefix[1])
                c = a.prefix[1] < b.prefix[1] ? -1 : 1;
            else if (!a.complete || !b.complete)
                c = compareCells(a, b, key);
            if (c != 0) return desc ? c > 0 : c < 0;
            return a.seq < b.seq;
        };
    };
    if (!twoThreads || items.size() < kTwoThreadRows) {
        std::sort(items.begin(), items.end(), orderWith(step));
        return;
    }
    // Each half on a thread of its own, then one merge: the order is strict (seq breaks ties), so
    // the result is the one a single sort gives.
    const auto middle = items.begin() + std::ptrdiff_t(items.size() / 2);
    SortSteps otherSteps(stop);
    std::exception_ptr otherFailed;
    std::thread other([&] {
        try {
            std::sort(items.begin(), middle, orderWith(otherSteps));
        } catch (...) {
            otherFailed = std::current_exception();
        }
    });
    try {
        std::sort(middle, items.end(), orderWith(step));
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (otherFailed) std::rethrow_exception(otherFailed);
    std::inplace_merge(items.begin(), middle, items.end(), orderWith(step));
}

ListingModel::SortedRows ListingModel::sortedRows(const std::atomic<bool>* stop,
                                                  bool twoThreads) const {
    SortSteps step(stop);
    SortedRows sorted;
    try {
        std::vector<SortItem> items = sortItems(step);
        orderItems(items, step, stop, twoThreads);
        sorted.newRowOf.resize(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            step();
            sorted.rows.push_back(m_s.rows[items[i].row]);
            sorted.newRowOf[items[i].row] = quint32(i);
        }
    } catch (const SortStopped&) {
        return {};
    }
    return sorted;
}

void ListingModel::placeSorted(SortedRows& sorted, bool signal) {
    FilterPause filterPause(*this); // it reads the rows in their old places
    catchUp();                      // the rows that wait are in their old places too
    if (!signal) {
        m_s.rows.swap(sorted.rows);
        followMovedRows(sorted.newRowOf);
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> stores;
    stores.reserve(std::size_t(before.size()));
    for (const QModelIndex& i : before)
        stores.push_back(sorted.newRowOf[storeRow(i.row())]);
    m_s.rows.swap(sorted.rows);
    followMovedRows(sorted.newRowOf);
    if (!before.isEmpty()) {
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype k = 0; k < before.size(); ++k)
            after.append(index(shownRow(stores[std::size_t(k)]), before[k].column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListingModel::sortRows(bool signal) {
    if (m_s.rows.size() >= 2) {
        SortedRows sorted = sortedRows(nullptr, false);
        placeSorted(sorted, signal);
    }
    if (signal) settleOwedSort();
}

void ListingModel::settleOwedSort() {
    if (!m_sortOwed) return;
    m_sortOwed = false;
    emit backgroundSortDone();
}

bool ListingModel::stopBackgroundSort() {
    if (!m_background) return false;
    m_background.reset(); // stops and joins it
    m_sortOwed = true;
    return true;
}

void ListingModel::sortInBackground() {
    stopBackgroundSort();
    m_sortOwed = false;
    // Nothing to sort is done all the same, on a later turn of the event loop.
    const bool needed = m_sorted && m_batch == 0 && m_s.rows.size() >= 2;
    m_background = std::make_unique<BackgroundJob<std::unique_ptr<SortedRows>>>(
        [this, needed](const std::atomic<bool>& stop) -> std::unique_ptr<SortedRows> {
            if (!needed) return nullptr;
            // Only reads the rows: every change to them stops this thread first.
            SortedRows sorted = sortedRows(&stop, true);
            return stop ? nullptr : std::make_unique<SortedRows>(std::move(sorted));
        },
        this, "placeBackgroundSort");
}

void ListingModel::placeBackgroundSort() {
    // A stopped sort's late word finds another sort, not yet done, or none.
    if (!m_background || !m_background->ended()) return;
    std::unique_ptr<SortedRows> sorted = m_background->take();
    m_background.reset();
    if (sorted) {
        Q_ASSERT(sorted->rows.size() == m_s.rows.size());
        // Without persistent indexes (no selection) the rows' new texts are told as changed
        // data: a view redraws what it shows, where a layout change of a million rows holds it
        // up for tens of milliseconds.
        if (persistentIndexList().isEmpty()) {
            FilterPause filterPause(*this);
            catchUp();
            m_s.rows.swap(sorted->rows);
            followMovedRows(sorted->newRowOf);
            if (rowCount() > 0)
                emit dataChanged(index(0, 0), index(rowCount() - 1, kListingColumns - 1));
        } else {
            placeSorted(*sorted, true);
        }
        // The rows in their old order: freeing a million of them would hold this thread up for
        // tens of milliseconds.
        m_disposer.dispose(std::move(sorted));
    }
    emit backgroundSortDone();
}

void ListingModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kListingColumns) return;
    stopBackgroundSort(); // this sort takes its place
    m_sortKey = column;
    m_sortOrder = order;
    m_sorted = true;
    if (m_batch == 0) sortRows();
    settleOwedSort();
}

void ListingModel::setSortKey(int column) {
    if (column < 0 || column >= kListingColumns) return;
    stopBackgroundSort();
    m_sortKey = column;
    if (m_sorted && m_batch == 0) sortRows();
    settleOwedSort();
}

void ListingModel::setSortOrder(Qt::SortOrder order) {
    stopBackgroundSort();
    m_sortOrder = order;
    if (m_sorted && m_batch == 0) sortRows();
    settleOwedSort();
}

void ListingModel::setSorted(bool sorted) {
    stopBackgroundSort();
    m_sorted = sorted;
    if (m_sorted && m_batch == 0) sortRows();
    settleOwedSort();
}

// --- filtering ---

namespace {

// The name a filter matches: a file's own, a subfolder row's folder's last part ("Sub/" -> "Sub").
QStringView filterName(QStringView name, QStringView folder, bool subfolder) {
    if (!subfolder) return name;
    if (folder.endsWith(u'/')) folder.chop(1);
    return folder.sliced(folder.lastIndexOf(u'/') + 1);
}

bool nameMatches(const NamePattern& pattern, QStringView name, bool folder, std::string& folded) {
    if (!(folder ? pattern.folders : pattern.files)) return false;
    // Most names are ASCII: folded here in one pass, the rest by the full folding.
    folded.resize(std::size_t(name.size()));
    char* out = folded.data();
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x80) {
            FoldText(std::u16string_view(name.utf16(), std::size_t(name.size())), folded);
            break;
        }
        *out++ = char(u >= u'A' && u <= u'Z' ? u + 0x20 : u);
    }
    return pattern.matches(folded);
}

// Whether every name `narrower` matches is one `wider` matches: a part of a name that holds the
// other's part, of the same kinds or fewer. Typing on at the end of a pattern narrows it, so its
// rows are found among those shown rather than among all.
bool narrows(const NamePattern& narrower, const NamePattern& wider) {
    return !narrower.glob && !wider.glob && (wider.files || !narrower.files) &&
           (wider.folders || !narrower.folders) &&
           narrower.folded.find(wider.folded) != std::string::npos;
}

} // namespace

void ListingModel::addToTotals(const Row& row, Totals& totals) {
    if (row.subfolder) {
        ++totals.folders;
        return;
    }
    ++totals.files;
    totals.bytes += row.bytes;
    totals.seconds += row.seconds;
}

ListingModel::Totals ListingModel::totals(int first, int last) const {
    Totals sum;
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    for (int row = first; row <= last; ++row)
        addToTotals(m_s.rows[storeRow(row)], sum);
    return sum;
}

int ListingModel::shownRow(std::size_t storeRow) const {
    if (!m_filtered) return storeRow < m_s.rows.size() ? int(storeRow) : -1;
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), quint32(storeRow));
    return it != m_shown.end() && *it == storeRow ? int(it - m_shown.begin()) : -1;
}

void ListingModel::followMovedRows(const std::vector<quint32>& newRowOf) {
    if (!m_filtered || m_shown.empty()) return;
    // A mark per store row, read in order: linear, where sorting the shown rows would not be.
    std::vector<bool> shown(m_s.rows.size());
    for (const quint32 row : m_shown)
        shown[newRowOf[row]] = true;
    std::size_t k = 0;
    for (std::size_t row = 0; row < shown.size(); ++row)
        if (shown[row]) m_shown[k++] = quint32(row);
}

void ListingModel::followRemovedRows(const std::vector<std::size_t>& removed) {
    if (!m_filtered) return;
    std::size_t gone = 0, kept = 0;
    for (const quint32 row : m_shown) {
        while (gone < removed.size() && removed[gone] < row)
            ++gone;
        if (gone < removed.size() && removed[gone] == row) continue;
        m_shown[kept++] = quint32(row - gone);
    }
    m_shown.resize(kept);
}

void ListingModel::matchRows(const NamePattern& pattern, std::size_t first, std::size_t last,
                             FilterMatch& into) const {
    std::string folded;
    for (std::size_t r = first; r < last; ++r) {
        const Row& row = m_s.rows[r];
        if (nameMatches(
                pattern,
                filterName(packed(row, PName), m_s.folders.texts[row.folder], row.subfolder),
                row.subfolder, folded)) {
            into.shown.push_back(quint32(r));
            addToTotals(row, into.totals);
        }
    }
}

void ListingModel::setFilter(const QString& pattern) {
    m_filterText = pattern;
    stopFilterJob();
    m_pending = NamePattern::parse(pattern.toStdString());
    if (!m_pending.matchesAll()) {
        startFilterJob();
        return;
    }
    // Every row: nothing to match.
    m_applied = m_pending;
    if (m_filtered) showRows(false, {}, {});
    m_appliedUpTo = m_s.rows.size();
    emit filterApplied();
}

void ListingModel::startFilterJob() {
    m_filterJobRows = m_tailUpTo = m_s.rows.size();
    m_filterTail = FilterMatch();
    // What the store holds now, as the places it holds it in: rows added meanwhile never move
    // these, and every other change to the rows stops the job first.
    struct Snapshot {
        NamePattern pattern;
        std::size_t rows;
        std::vector<const Row*> segments;
        std::vector<const char16_t*> chunks;
        std::vector<QStringView> folders;
        std::vector<quint32> candidates; // the store rows to look at, when not all
        bool all = true;
    };
    auto snap = std::make_shared<Snapshot>();
    snap->pattern = m_pending;
    snap->rows = m_filterJobRows;
    if (m_filtered && narrows(m_pending, m_applied)) {
        snap->candidates = m_shown;
        snap->all = false;
    }
    snap->segments = m_s.rows.segmentStarts();
    snap->chunks = m_s.arena.chunkStarts();
    snap->folders.assign(m_s.folders.texts.begin(), m_s.folders.texts.end());
    m_filterJob = std::make_unique<BackgroundJob<FilterJobResult>>(
        [snap](const std::atomic<bool>& stop) {
            constexpr std::size_t kSegment = decltype(m_s.rows)::kSegmentSize;
            const auto rowAt = [&snap](std::size_t k) {
                return snap->all ? k : std::size_t(snap->candidates[k]);
            };
            const auto match = [&snap, &stop, &rowAt](std::size_t first, std::size_t last,
                                                      FilterMatch& into) {
                std::string folded;
                for (std::size_t k = first; k < last; ++k) {
                    if (k % 4096 == 0 && stop.load(std::memory_order_relaxed)) return;
                    const std::size_t r = rowAt(k);
                    const Row& row = snap->segments[r / kSegment][r % kSegment];
                    if (k + 16 < last) {
                        const std::size_t a = rowAt(k + 16);
                        const Row& ahead = snap->segments[a / kSegment][a % kSegment];
                        __builtin_prefetch(snap->chunks[std::size_t(quint64(ahead.offset) >> 32)] +
                                           (quint64(ahead.offset) & 0xffffffffu));
                    }
                    const QStringView name(snap->chunks[std::size_t(quint64(row.offset) >> 32)] +
                                               (quint64(row.offset) & 0xffffffffu),
                                           qsizetype(row.length[PName]));
                    if (nameMatches(snap->pattern,
                                    filterName(name, snap->folders[row.folder], row.subfolder),
                                    row.subfolder, folded)) {
                        into.shown.push_back(quint32(r));
                        addToTotals(row, into.totals);
                    }
                }
            };
            FilterJobResult result;
            const std::size_t n = snap->all ? snap->rows : snap->candidates.size();
            if (n < kTwoThreadRows) {
                match(0, n, result.match);
            } else {
                // Two halves at once, joined in order.
                FilterMatch upper;
                std::thread other([&] { match(n / 2, n, upper); });
                match(0, n / 2, result.match);
                other.join();
                result.match.shown.insert(result.match.shown.end(), upper.shown.begin(),
                                          upper.shown.end());
                result.match.totals += upper.totals;
            }
            result.stopped = stop;
            return result;
        },
        this, "placeFilter");
}

bool ListingModel::stopFilterJob() {
    if (!m_filterJob) return false;
    m_filterJob.reset(); // stops and joins it
    return true;
}

void ListingModel::placeFilter() {
    // A stopped job's late word finds another job, not yet done, or none.
    if (!m_filterJob || !m_filterJob->ended()) return;
    FilterJobResult result = m_filterJob->take();
    m_filterJob.reset();
    if (result.stopped) return;
    // The rows added meanwhile that still wait for this pattern.
    if (m_tailUpTo < m_s.rows.size()) {
        matchRows(m_pending, m_tailUpTo, m_s.rows.size(), m_filterTail);
        m_tailUpTo = m_s.rows.size();
    }
    FilterMatch& match = result.match;
    match.shown.insert(match.shown.end(), m_filterTail.shown.begin(), m_filterTail.shown.end());
    match.totals += m_filterTail.totals;
    m_filterTail = FilterMatch();
    m_applied = m_pending;
    showRows(true, std::move(match.shown), match.totals);
    m_appliedUpTo = m_s.rows.size();
    emit filterApplied();
}

void ListingModel::showRows(bool filtered, std::vector<quint32> shown, const Totals& totals) {
    // The rows keep their order: for the views (and the selection) rows go and come as in a sort.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> stores;
    stores.reserve(std::size_t(before.size()));
    for (const QModelIndex& i : before)
        stores.push_back(storeRow(i.row()));
    m_filtered = filtered;
    m_shown = std::move(shown);
    m_shownTotals = totals;
    if (!before.isEmpty()) {
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype k = 0; k < before.size(); ++k) {
            const int row = shownRow(stores[std::size_t(k)]);
            after.append(row >= 0 ? index(row, before[k].column()) : QModelIndex());
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListingModel::forEachHiddenRow(
    const std::function<void(const QByteArray&, bool)>& visit) const {
    if (!m_filtered) return;
    std::size_t next = 0;
    for (std::size_t r = 0; r < m_s.rows.size(); ++r) {
        if (next < m_shown.size() && m_shown[next] == r) {
            ++next;
            continue;
        }
        const Row& row = m_s.rows[r];
        visit(rawPathOf(row), row.subfolder);
    }
}

bool ListingModel::isNumericMediaColumn(int column) {
    return column == ColMedia + int(MediaField::Track) ||
           column == ColMedia + int(MediaField::Year) ||
           column == ColMedia + int(MediaField::Dimensions);
}

void ListingModel::queueSlice() {
    if (m_sliceQueued) return;
    m_sliceQueued = true;
    QMetaObject::invokeMethod(this, "matchSlice", Qt::QueuedConnection);
}

void ListingModel::matchSlice() {
    if (!m_sliceQueued) return; // caught up meanwhile
    m_sliceQueued = false;
    // A few milliseconds of matching per turn of the event loop.
    constexpr std::size_t kSliceRows = 16384;
    catchUp(kSliceRows);
    const std::size_t size = m_s.rows.size();
    if ((m_filtered && m_appliedUpTo < size) || (m_filterJob && m_tailUpTo < size)) queueSlice();
}

void ListingModel::catchUp(std::size_t limit) {
    const std::size_t size = m_s.rows.size();
    if (m_filterJob && m_tailUpTo < size) {
        const std::size_t last = std::min(size, m_tailUpTo + std::min(limit, size));
        matchRows(m_pending, m_tailUpTo, last, m_filterTail);
        m_tailUpTo = last;
    }
    if (m_filtered && m_appliedUpTo < size) {
        const std::size_t last = std::min(size, m_appliedUpTo + std::min(limit, size));
        FilterMatch match;
        matchRows(m_applied, m_appliedUpTo, last, match);
        m_appliedUpTo = last;
        appendShown(match);
    }
    if (limit == std::size_t(-1)) m_sliceQueued = false;
}

void ListingModel::appendShown(const FilterMatch& match) {
    if (match.shown.empty()) return;
    const bool signal = m_batch == 0;
    const int at = rowCount();
    if (signal) beginInsertRows({}, at, at + int(match.shown.size()) - 1);
    m_shown.insert(m_shown.end(), match.shown.begin(), match.shown.end());
    m_shownTotals += match.totals;
    if (signal) endInsertRows();
}

} // namespace treelan
