#pragma once

#include "catalog/Browse.h"
#include "listing/ListingModel.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace treelan {

class CompareView;
class ListingScan;

// The listing's model with one more column, the volume each row lies on, and the rows of a
// volume that cannot be reached now greyed.
class CatalogListModel final : public ListingModel {
    Q_OBJECT
public:
    static constexpr int kVolumeColumn = kListingColumns;
    struct VolumeMark {
        QString label;
        bool online = false;
    };

    explicit CatalogListModel(QObject* parent = nullptr);
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The volumes rows can lie on; every row lies on `fallback` unless given one of its own.
    void setVolumes(std::vector<VolumeMark> volumes, int fallback);
    // The volumes of the next rows appended, in their order.
    void appendVolumes(const std::vector<int>& volumes) {
        m_volumeOf.insert(m_volumeOf.end(), volumes.begin(), volumes.end());
    }
    // Empties the model (handing the rows over, to be freed elsewhere) and forgets the volumes.
    Store takeAllRows();
    const VolumeMark* volumeOfRow(int row) const;

private:
    std::vector<VolumeMark> m_volumes;
    std::vector<int> m_volumeOf; // per row, by the order it was added in
    int m_fallback = -1;
};

// The catalogue in a window of its own: volumes and their snapshots, a details list of a chosen
// snapshot or of a search over the catalogue, adding the main window's folder as a new snapshot
// and comparing snapshots. Whatever reads the catalogue or the disk at length runs on a thread of
// its own; rows and changes come over in slices.
class CatalogWindow : public QWidget {
    Q_OBJECT
public:
    // `catalogPath`: the catalogue file (empty: the command line's default). `folderNow` gives
    // the folder "Add to catalogue" adds and a snapshot is compared with.
    CatalogWindow(const QString& catalogPath, std::function<QString()> folderNow,
                  QWidget* parent = nullptr);
    ~CatalogWindow() override;

    QString catalogPath() const { return m_path; }
    CatalogListModel* model() const { return m_model; }
    QTableView* listView() const { return m_list; }
    QTreeWidget* volumeTree() const { return m_tree; }
    QLineEdit* searchBox() const { return m_search; }
    QCheckBox* allSnapshotsBox() const { return m_allSnapshots; }
    // What the status line says: counts, progress, the last failure.
    QString statusText() const;
    // Reading the catalogue, searching, listing, adding or comparing is under way.
    bool isBusy() const;
    // Selected snapshot numbers in the tree, ascending.
    std::vector<std::int64_t> selectedSnapshots() const;
    // The text Copy puts on the clipboard: the selected rows, or all when none is.
    QString copyText() const;

public slots:
    void reloadVolumes();
    // Lists snapshot `id` (when the catalogue holds it).
    void showSnapshot(std::int64_t id);
    // Searches with the search box's text.
    void startSearch();
    void addFolder();
    // Two snapshots, or one and the folder now.
    void compare();
    void cancelWork();
    void copyRows();
    void exportRows();

signals:
    // The volumes were read, a listing or search has all its rows, an add or comparison ended.
    void workDone();
    // A comparison is shown in a window of its own.
    void compareOpened(treelan::CompareView* view);

private:
    struct SearchJob;
    struct AddJob;
    struct CompareJob;
    void buildControls();
    void fillTree(const std::vector<catalog::VolumeState>& volumes);
    void setStatus(const QString& text);
    void clearList();
    void onTreeSelection();
    void poll();
    void pollSearch();
    void pollAdd();
    void pollCompare();
    void onListColumnClick(int column);
    void updateButtons();
    std::optional<catalog::SnapshotRow> snapshotRow(std::int64_t id) const;

    QString m_path;
    std::function<QString()> m_folderNow;
    std::vector<catalog::VolumeState> m_volumes;
    QTreeWidget* m_tree = nullptr;
    QLineEdit* m_search = nullptr;
    QCheckBox* m_allSnapshots = nullptr;
    QPushButton* m_cmdSearch = nullptr;
    QPushButton* m_cmdAdd = nullptr;
    QPushButton* m_cmdCompare = nullptr;
    QPushButton* m_cmdCopy = nullptr;
    QPushButton* m_cmdExport = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLabel* m_status = nullptr;
    QTableView* m_list = nullptr;
    CatalogListModel* m_model = nullptr;
    ListingScan* m_scan = nullptr;
    std::int64_t m_listed = 0; // the snapshot listed; 0 for a search's results
    QString m_listedRoot;      // its root path, for copies with full paths
    bool m_sorting = false;    // the rows are all in, being put in order
    std::unique_ptr<SearchJob> m_searchJob;
    std::vector<std::unique_ptr<SearchJob>> m_oldSearches; // stopped, their threads ending
    std::unique_ptr<AddJob> m_addJob;
    std::unique_ptr<CompareJob> m_compareJob;
    QTimer m_poll;
    Disposer m_disposer;
};

} // namespace treelan
