#include "listing/ListingModel.h"

#include "settings/GuiStrings.h"

#include <algorithm>

namespace treelan {

namespace {
const char* const kTags[] = {"120", "121", "122", "123", "125", "126"};
constexpr int kSubfolderFields = 6;
} // namespace

ListingModel::ListingModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int c = 0; c < kListingColumns; ++c) {
        Column& col = m_columns[std::size_t(c)];
        if (c < kSubfolderFields) {
            col.width = kColumnTwips;
            col.tag = QString::fromLatin1(kTags[c]);
        }
        col.alignment = c == ColSize ? Qt::AlignRight : Qt::AlignLeft;
        m_order.push_back(c);
    }
}

int ListingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ListingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kListingColumns;
}

QVariant ListingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kListingColumns)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_rows[std::size_t(index.row())].texts[std::size_t(index.column())];
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_columns[std::size_t(index.column())].alignment |
                                   Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ListingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kListingColumns) return {};
    const Column& col = m_columns[std::size_t(section)];
    if (role == Qt::DisplayRole) {
        if (col.headingSet) return col.heading;
        return col.tag.isEmpty() ? QString() : GetGuiString(col.tag);
    }
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(col.alignment | Qt::AlignVCenter);
    return {};
}

bool ListingModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                 int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kListingColumns ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    Column& col = m_columns[std::size_t(section)];
    col.heading = value.toString();
    col.headingSet = true;
    emit headerDataChanged(orientation, section, section);
    return true;
}

ListingModel::Row ListingModel::makeRow(FileEntry&& e, bool subfolder, quint64 seq) {
    Row r;
    r.texts = {std::move(e.name),
               std::move(e.folder),
               std::move(e.sizeText),
               std::move(e.dateText),
               std::move(e.durationText),
               std::move(e.bitrateText),
               QString(),
               QString(),
               QString(),
               QString()};
    if (!subfolder) {
        r.texts[ColTypeName] = std::move(e.typeName);
        r.texts[ColSizeKey] = std::move(e.sizeKey);
        r.texts[ColDateKey] = std::move(e.dateKey);
        r.texts[ColBitrateKey] = std::move(e.bitrateKey);
    }
    r.seq = seq;
    r.subfolder = subfolder;
    return r;
}

int ListingModel::compareTexts(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive);
}

bool ListingModel::rowLess(const Row& a, const Row& b) const {
    const std::size_t k = std::size_t(m_sortKey);
    int c = compareTexts(a.texts[k], b.texts[k]);
    if (m_sortOrder == Qt::DescendingOrder) c = -c;
    if (c != 0) return c < 0;
    return a.seq < b.seq;
}

int ListingModel::addRow(const FileEntry& entry, bool subfolderRow) {
    Row r = makeRow(FileEntry(entry), subfolderRow, m_nextSeq++);
    std::size_t at = m_rows.size();
    if (m_sorted && m_batch == 0)
        at = std::size_t(
            std::upper_bound(m_rows.begin(), m_rows.end(), r,
                             [this](const Row& a, const Row& b) { return rowLess(a, b); }) -
            m_rows.begin());
    beginInsertRows({}, int(at), int(at));
    m_rows.insert(m_rows.begin() + std::ptrdiff_t(at), std::move(r));
    endInsertRows();
    return int(at);
}

void ListingModel::appendRows(std::vector<FileEntry> entries,
                              const std::vector<bool>& subfolderRows) {
    if (entries.empty()) return;
    beginBatch();
    const int first = rowCount();
    beginInsertRows({}, first, first + int(entries.size()) - 1);
    m_rows.reserve(m_rows.size() + entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        m_rows.push_back(makeRow(std::move(entries[i]),
                                 i < subfolderRows.size() && subfolderRows[i], m_nextSeq++));
    endInsertRows();
    endBatch();
}

void ListingModel::beginBatch() {
    ++m_batch;
}

void ListingModel::endBatch() {
    if (m_batch > 0 && --m_batch == 0 && m_sorted) sortRows();
}

void ListingModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_nextSeq = 0;
    endResetModel();
}

QString ListingModel::text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kListingColumns) return {};
    return m_rows[std::size_t(row)].texts[std::size_t(column)];
}

FileEntry ListingModel::entry(int row) const {
    const auto& t = m_rows.at(std::size_t(row)).texts;
    return {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9]};
}

bool ListingModel::isSubfolderRow(int row) const {
    return m_rows.at(std::size_t(row)).subfolder;
}

bool ListingModel::isSelected(int row) const {
    return row >= 0 && row < rowCount() && m_rows[std::size_t(row)].selected;
}

void ListingModel::setSelected(int row, bool selected) {
    if (row >= 0 && row < rowCount()) m_rows[std::size_t(row)].selected = selected;
}

void ListingModel::clearSelection() {
    for (Row& r : m_rows)
        r.selected = false;
}

int ListingModel::selectedCount() const {
    return int(
        std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.selected; }));
}

bool ListingModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount()) return false;
    beginRemoveRows({}, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}

void ListingModel::sortRows() {
    if (m_rows.size() < 2) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<quint64> oldSeq;
    oldSeq.reserve(std::size_t(before.size()));
    for (const QModelIndex& i : before)
        oldSeq.push_back(m_rows[std::size_t(i.row())].seq);
    std::sort(m_rows.begin(), m_rows.end(),
              [this](const Row& a, const Row& b) { return rowLess(a, b); });
    if (!before.isEmpty()) {
        // seq is unique, so it finds each row's new place.
        QHash<quint64, int> rowOfSeq;
        for (std::size_t r = 0; r < m_rows.size(); ++r)
            rowOfSeq.insert(m_rows[r].seq, int(r));
        QModelIndexList after;
        for (qsizetype i = 0; i < before.size(); ++i)
            after.append(index(rowOfSeq.value(oldSeq[std::size_t(i)]), before[i].column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListingModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kListingColumns) return;
    m_sortKey = column;
    m_sortOrder = order;
    m_sorted = true;
    if (m_batch == 0) sortRows();
}

void ListingModel::setSortKey(int column) {
    if (column < 0 || column >= kListingColumns) return;
    m_sortKey = column;
    if (m_sorted && m_batch == 0) sortRows();
}

void ListingModel::setSortOrder(Qt::SortOrder order) {
    m_sortOrder = order;
    if (m_sorted && m_batch == 0) sortRows();
}

void ListingModel::setSorted(bool sorted) {
    m_sorted = sorted;
    if (m_sorted && m_batch == 0) sortRows();
}

double ListingModel::columnWidth(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].width : 0.0;
}

void ListingModel::setColumnWidth(int column, double twips) {
    if (column < 0 || column >= kListingColumns) return;
    m_columns[std::size_t(column)].width = std::max(0.0, twips);
    emit columnLayoutChanged();
}

Qt::Alignment ListingModel::columnAlignment(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].alignment
                                                   : Qt::AlignLeft;
}

QString ListingModel::columnTag(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].tag : QString();
}

int ListingModel::displayPosition(int column) const {
    const auto it = std::find(m_order.begin(), m_order.end(), column);
    return it == m_order.end() ? 0 : int(it - m_order.begin()) + 1;
}

void ListingModel::setDisplayPosition(int column, int position) {
    if (column < 0 || column >= kListingColumns) return;
    position = std::clamp(position, 1, int(kListingColumns));
    m_order.erase(std::find(m_order.begin(), m_order.end(), column));
    m_order.insert(m_order.begin() + (position - 1), column);
    emit columnLayoutChanged();
}

std::vector<int> ListingModel::visibleColumns() const {
    std::vector<int> out;
    for (int c : m_order)
        if (m_columns[std::size_t(c)].width > 0) out.push_back(c);
    return out;
}

bool ListingModel::viewItemTicked(int index) const {
    return index >= 0 && index < kViewItems && m_ticks[std::size_t(index)];
}

void ListingModel::setViewItemTicked(int index, bool ticked) {
    if (index >= 0 && index < kViewItems) m_ticks[std::size_t(index)] = ticked;
}

void ListingModel::ShowColumn(int index) {
    if (index < 0 || index >= kViewItems) return;
    const int c = ColSize + index;
    if (m_ticks[std::size_t(index)]) {
        int position = displayPosition(ColFolder);
        for (int i = 0; i < index; ++i)
            position += m_ticks[std::size_t(i)] ? 1 : 0;
        setDisplayPosition(c, position);
        setColumnWidth(c, kColumnTwips);
    } else {
        setColumnWidth(c, 0);
        setDisplayPosition(c, 1);
    }
}

void ListingModel::arrangeColumns(const QString& rows) {
    for (int c = ColSize; c < kListingColumns; ++c)
        setDisplayPosition(c, 1);
    for (int i = 0; i < kViewItems; ++i) {
        setViewItemTicked(i, i < rows.size() && rows[i] == QLatin1Char('1'));
        ShowColumn(i);
    }
}

QString ListingModel::rowsSetting() const {
    QString s;
    for (bool t : m_ticks)
        s += t ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

} // namespace treelan
