#include "listing/ColumnLayout.h"

#include "settings/StringTable.h"

#include <algorithm>

namespace treelan {

namespace {
constexpr Str kTags[] = {Str::Name, Str::Folder, Str::Size, Str::Date, Str::Duration, Str::Bitrate};
constexpr int kHeadedColumns = 6;
} // namespace

ColumnLayout::ColumnLayout() {
    for (int c = 0; c < kListingColumns; ++c) {
        Column& col = m_columns[std::size_t(c)];
        if (c < kHeadedColumns) {
            col.width = kColumnTwips;
            col.tag = KeyText(kTags[c]);
        }
        col.alignment = c == ColSize ? Qt::AlignRight : Qt::AlignLeft;
        if (c >= ColMedia)
            col.tag = QLatin1String(kMediaFieldNames[std::size_t(c - ColMedia)].heading);
        m_order.push_back(c);
    }
}

double ColumnLayout::columnWidth(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].width : 0.0;
}

void ColumnLayout::setColumnWidth(int column, double twips) {
    if (column < 0 || column >= kListingColumns) return;
    m_columns[std::size_t(column)].width = std::max(0.0, twips);
}

Qt::Alignment ColumnLayout::columnAlignment(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].alignment
                                                   : Qt::AlignLeft;
}

QString ColumnLayout::columnTag(int column) const {
    return column >= 0 && column < kListingColumns ? m_columns[std::size_t(column)].tag : QString();
}

int ColumnLayout::displayPosition(int column) const {
    const auto it = std::find(m_order.begin(), m_order.end(), column);
    return it == m_order.end() ? 0 : int(it - m_order.begin()) + 1;
}

void ColumnLayout::setDisplayPosition(int column, int position) {
    if (column < 0 || column >= kListingColumns) return;
    position = std::clamp(position, 1, int(kListingColumns));
    m_order.erase(std::find(m_order.begin(), m_order.end(), column));
    m_order.insert(m_order.begin() + (position - 1), column);
}

std::vector<int> ColumnLayout::visibleColumns() const {
    std::vector<int> out;
    for (int c : m_order)
        if (m_columns[std::size_t(c)].width > 0) out.push_back(c);
    return out;
}

bool ColumnLayout::isOffered(int column) const {
    if (column == ColName || column == ColFolder) return true;
    if (column >= ColMedia) return mediaItemTicked(column - ColMedia);
    return column >= ColSize && column < ColSize + kViewItems &&
           m_ticks[std::size_t(column - ColSize)];
}

bool ColumnLayout::viewItemTicked(int index) const {
    return index >= 0 && index < kViewItems && m_ticks[std::size_t(index)];
}

void ColumnLayout::setViewItemTicked(int index, bool ticked) {
    if (index >= 0 && index < kViewItems) m_ticks[std::size_t(index)] = ticked;
}

void ColumnLayout::applyViewItem(int index) {
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

void ColumnLayout::arrangeColumns(const std::array<bool, kViewItems>& ticked,
                                  const std::array<bool, kMediaViewItems>& media) {
    for (int c = ColSize; c < kListingColumns; ++c)
        setDisplayPosition(c, 1);
    for (int i = 0; i < kViewItems; ++i) {
        setViewItemTicked(i, ticked[std::size_t(i)]);
        applyViewItem(i);
    }
    for (int i = 0; i < kMediaViewItems; ++i) {
        setMediaItemTicked(i, media[std::size_t(i)]);
        applyMediaItem(i);
    }
}

bool ColumnLayout::mediaItemTicked(int index) const {
    return index >= 0 && index < kMediaViewItems && m_mediaTicks[std::size_t(index)];
}

void ColumnLayout::setMediaItemTicked(int index, bool ticked) {
    if (index >= 0 && index < kMediaViewItems) m_mediaTicks[std::size_t(index)] = ticked;
}

void ColumnLayout::applyMediaItem(int index) {
    if (index < 0 || index >= kMediaViewItems) return;
    const int c = ColMedia + index;
    if (m_mediaTicks[std::size_t(index)]) {
        // After Folder, the ticked standard columns and the ticked media columns before it.
        int position = displayPosition(ColFolder);
        for (bool t : m_ticks)
            position += t ? 1 : 0;
        for (int i = 0; i < index; ++i)
            position += m_mediaTicks[std::size_t(i)] ? 1 : 0;
        setDisplayPosition(c, position + 1);
        setColumnWidth(c, kColumnTwips);
    } else {
        setColumnWidth(c, 0);
        setDisplayPosition(c, 1);
    }
}

QString ColumnLayout::mediaRowsSetting() const {
    QString s;
    for (bool t : m_mediaTicks)
        s += t ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

void ColumnLayout::arrangeColumns(const QString& rows, const QString& mediaRows) {
    std::array<bool, kViewItems> ticked{};
    std::array<bool, kMediaViewItems> media{};
    for (qsizetype i = 0; i < qsizetype(ticked.size()) && i < rows.size(); ++i)
        ticked[std::size_t(i)] = rows[i] == QLatin1Char('1');
    for (qsizetype i = 0; i < qsizetype(media.size()) && i < mediaRows.size(); ++i)
        media[std::size_t(i)] = mediaRows[i] == QLatin1Char('1');
    arrangeColumns(ticked, media);
}

QString ColumnLayout::rowsSetting() const {
    QString s;
    for (bool t : m_ticks)
        s += t ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

} // namespace treelan
