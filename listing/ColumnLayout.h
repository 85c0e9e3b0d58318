#pragma once

#include "media/MediaInfo.h"

#include <QString>

#include <array>
#include <vector>

namespace treelan {

// Column indexes of the listing, 0-based as the model's columns (field n is column n - 1).
enum ListingColumn : int {
    ColName = 0,
    ColFolder,
    ColSize,
    ColDate,
    ColDuration,
    ColBitrate,
    ColTypeName,
    ColSizeKey,
    ColDateKey,
    ColBitrateKey,
    ColMedia, // the first of the media fields (kMediaFieldNames), in their table's order
    kListingColumns = ColMedia + int(kMediaFieldCount)
};

// Number of View menu items: the optional columns Size, Date, Duration and Bitrate.
constexpr int kViewItems = 4;
// Then one item per media field; their columns are hidden until chosen.
constexpr int kMediaViewItems = int(kMediaFieldCount);
constexpr double kColumnTwips = 1440.0;

// How a details view lays out the listing's columns: widths in twips, display order, the View
// ticks and the Rows setting made from them. Kept apart from the rows, which the model holds;
// while a window shows them, its header holds the live widths and order. Column indexes are
// 0-based; display positions 1-based.
class ColumnLayout {
public:
    // The View items shown when nothing else is asked for: Size and Date.
    static constexpr std::array<bool, kViewItems> kDefaultViewItems = {true, true, false, false};

    ColumnLayout();

    double columnWidth(int column) const;
    void setColumnWidth(int column, double twips);
    Qt::Alignment columnAlignment(int column) const;
    // The interface-string key of the heading; empty for the hidden key columns.
    QString columnTag(int column) const;
    int displayPosition(int column) const;
    // Moves the column to `position` and shifts the others, as a heading drag would.
    void setDisplayPosition(int column, int position);
    // Header visual index of a column (display position - 1), and the columns in display order.
    int visualIndex(int column) const { return displayPosition(column) - 1; }
    std::vector<int> displayOrder() const { return m_order; }
    // Columns with a width, in display order.
    std::vector<int> visibleColumns() const;
    // Whether the column has a heading the user can see and drag, whatever its width: Name,
    // Folder and the ticked optional columns. One dragged down to no width keeps its heading,
    // so it can be dragged open again.
    bool isOffered(int column) const;

    bool viewItemTicked(int index) const;
    void setViewItemTicked(int index, bool ticked);
    // Applies item `index`'s tick to column index + 3 (1-based), i.e. ColSize + index.
    void applyViewItem(int index);
    // The start-up arrangement: every column from Size on parked in front, then each View item
    // shown as `ticked` says, and each media column as `media` says.
    void arrangeColumns(const std::array<bool, kViewItems>& ticked,
                        const std::array<bool, kMediaViewItems>& media = {});
    // The same from the Rows and MediaColumns settings: an item's character "1" shows it, a
    // missing one counts as hidden.
    void arrangeColumns(const QString& rows, const QString& mediaRows = {});
    // The Rows setting text of the current ticks.
    QString rowsSetting() const;

    // The media columns' View items: ticked, shown after the other ticked columns.
    bool mediaItemTicked(int index) const;
    void setMediaItemTicked(int index, bool ticked);
    void applyMediaItem(int index);
    // The MediaColumns setting text: one "1" or "0" per media field.
    QString mediaRowsSetting() const;

private:
    struct Column {
        double width = 0;
        Qt::Alignment alignment = Qt::AlignLeft;
        QString tag;
    };
    std::array<Column, kListingColumns> m_columns;
    std::vector<int> m_order; // columns in display order
    std::array<bool, kViewItems> m_ticks{};
    std::array<bool, kMediaViewItems> m_mediaTicks{};
};

} // namespace treelan
