#pragma once

#include "export/ExportOptions.h"
#include "listing/FolderScan.h"
#include "listing/ListingScan.h"
#include "settings/StringTable.h"

#include <QHash>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QItemSelection;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;
class QTimer;

namespace treelan {

class FilterStrip;
class FootStrip;
class ListingModel;
class frmExport;

// The main window: the path box, the file list over a ListingModel, the option check boxes, the
// Copy and Export buttons and the logo. Geometry is designed in twips and laid out from the outer
// window size; without a window frame (offscreen) the outer size is the client size.
class frmExport : public QWidget {
    Q_OBJECT
public:
    // Lists `startPath` (a "/" is appended when missing) once the window is built. The
    // templates and the web archive's parts come from `resourceDir` (default:
    // DefaultResourceDir()). Dialogs go through CurrentDialogs().
    explicit frmExport(const QString& startPath, const QString& resourceDir = {},
                       QWidget* parent = nullptr);
    ~frmExport() override;

    // --- state other commands read ---
    QString path() const;
    QString resourceDir() const { return m_resourceDir; }
    ListingModel* model() const { return m_model; }
    QTableView* listView() const { return m_lv; }
    bool browseSubfolders() const;
    bool mp3Info() const;
    bool fullPathMode() const;
    bool selectedOnly() const;
    // The View menu's "Hidden files" tick: names beginning with "." are scanned and exported.
    bool showHidden() const;
    // The View menu's "Follow links" tick: links to folders are entered and links to files read;
    // unticked, each link is listed as itself (the command line's --no-follow).
    bool followLinks() const;
    // The View menu's "Read media details" tick: media files are read by the helper processes
    // (as --media does), for the listing's media columns and the export.
    bool mediaDetails() const;
    // Rows deleted since the last refresh, relative to the root: files "folder/name", folder
    // rows of the flat listing "Sub/".
    const PathSet& removedFiles() const { return m_removedFiles; }
    const PathSet& removedFolders() const { return m_removedFolders; }
    // A listing refresh runs in the background; until it ends Copy and Export are disabled.
    bool isScanning() const;
    // False after a scan was cancelled: the rows are those found until then.
    bool isListingComplete() const { return m_complete; }
    // Entries the last scan could not read, in the order met.
    const std::vector<Warning>& warnings() const { return m_warnings; }
    // Adds what an export could not read to the warnings the window counts and lists.
    void addWarnings(const std::vector<Warning>& warnings);
    // What the strip at the list's foot says of a scan; empty when there is nothing to say.
    QString scanStatusText() const;
    // What it says of the shown and the selected rows: "12 files, 3 folders: 1 234 kB, 00:10:02;
    // 2 selected: 12 kB, 00:03:00"; empty when the View menu's Totals item is unticked.
    QString totalsText() const;
    // The filter box above the list, and the strip at its foot.
    FilterStrip* filterStrip() const { return m_filter; }
    FootStrip* footStrip() const { return m_foot; }

    // The column layout as the list's header has it now: widths and order the user dragged.
    ColumnLayout columnLayout() const;
    // The selected rows, ascending: the view's selection is the only record of it.
    std::vector<int> selectedRows() const;
    bool isRowSelected(int row) const;
    // The export's options from the check boxes, the removal lists and the selected rows.
    ExportOptions exportOptions() const;
    QAction* mnuView(int index) const { return m_mnuView.at(std::size_t(index)); }
    QAction* mnuSort(int index) const { return m_mnuSort.at(std::size_t(index)); }
    QAction* mnuHidden() const { return m_mnuHidden; }
    QAction* mnuFollow() const { return m_mnuFollow; }
    QAction* mnuMedia() const { return m_mnuMedia; }
    QAction* mnuFilterBox() const { return m_mnuFilterBox; }
    QAction* mnuTotals() const { return m_mnuTotals; }
    QAction* mnuMediaColumn(int index) const { return m_mnuMediaColumn.at(std::size_t(index)); }
    QMenu* popupMenu() const { return m_mnuPopUp; }

    // --- geometry in twips ---
    QSizeF outerSizeTwips() const { return m_outerTwips; }
    // Resizes the window so that its outer size is exactly this many twips, and lays it out.
    void setOuterSizeTwips(double width, double height);
    // Where a control was last placed, in twips of the client area.
    QRectF controlTwips(const QWidget* control) const { return m_twips.value(control); }

    static constexpr double kMinWidthTwips = 6000;
    static constexpr double kMinHeightTwips = 3500;

public slots:
    void RefreshListing();
    void Form_Activate();
    void Form_Resize();
    void cmdCopy_Click();
    void cmdExport_Click();
    void cmdBrowse_Click();
    void imgLogo_Click();
    // Column number 0-based (the model's column), whatever its display position.
    void lv_ColumnClick(int column);
    void DeleteSelectedRows();
    void mnuMediaColumn_Click(int index);
    void mnuSort_Click(int index);
    void mnuView_Click(int index);
    void cmdCancel_Click();
    void cmdWarnings_Click();

signals:
    // A refresh has ended, completely, cancelled or failed; its rows are in place.
    void scanFinished();

protected:
    // What a refresh lists: the folder box, the check boxes and the View menu's Hidden files. A
    // subclass may add to them (a progress callback that holds the walk); the window's own
    // constructor lists with these.
    virtual ScanOptions scanOptions() const;
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    // A control of the design: its name, interface-string tag and place in twips.
    void designed(QWidget* w, const char* name, std::optional<Str> tag, const QRectF& twips);
    void buildPathRow();
    void buildList();
    // The filter strip over the rows and the strip at their foot, inside the list's place.
    void buildStrips();
    void buildStripMenuItems(QMenu* view);
    void loadStripSettings();
    // Lays the strips and the rows out in the list's place.
    void layoutListArea();
    void onFilterChanged(const QString& pattern);
    void onFilterApplied();
    // Asks for the totals to be counted again on the next turn of the event loop, once however
    // many changes come in this one.
    void scheduleTotals();
    void updateTotals();
    void buildOptions();
    void connectCommands();
    void buildMenus();
    void Form_Load(const QString& startPath);
    void place(QWidget* control, const QRectF& twips);
    void onRowsFound(ListingModel::Store& rows);
    void onScanProgress(qint64 folders, qint64 entries, const QString& folder);
    void onScanWarnings(const std::vector<Warning>& warnings);
    void onScanStopped();
    void onScanFinished(ListingScan::Outcome outcome);
    // The scan's rows are in order: the refresh is over.
    void onScanSorted();
    void updateButtons();
    void updateScanBar();
    // Puts the layout's widths, order and hidden columns into the list's header, which holds
    // them from then on, and the layout into the model.
    void loadHeader(const ColumnLayout& layout);
    void selectRow(int row);
    void flipSort(int key);
    void removeRows(const std::vector<int>& ascendingRows);
    QSize frameExtra() const;

    QString m_resourceDir;
    ListingModel* m_model = nullptr;
    QPushButton* m_cmdCopy = nullptr;
    QPushButton* m_cmdExport = nullptr;
    QLineEdit* m_Text1 = nullptr;
    QPushButton* m_cmdBrowse = nullptr;
    QLabel* m_Label1 = nullptr;
    QTableView* m_lv = nullptr;
    QCheckBox* m_chkPath = nullptr;
    QCheckBox* m_chkSelected = nullptr;
    QCheckBox* m_chkTree = nullptr;
    QCheckBox* m_chkmp3 = nullptr;
    QLabel* m_imgLogo = nullptr;
    QMenu* m_mnuPopUp = nullptr;
    FootStrip* m_foot = nullptr;
    FilterStrip* m_filter = nullptr;
    QTimer* m_totalsTimer = nullptr;
    QAction* m_mnuFilterBox = nullptr;
    QAction* m_mnuTotals = nullptr;
    QLabel* m_lblScan = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QPushButton* m_cmdWarnings = nullptr;
    ListingScan* m_scan = nullptr;
    std::vector<Warning> m_warnings;
    qint64 m_scanFolders = 0;
    qint64 m_scanEntries = 0;
    QString m_scanFolder;
    bool m_scanStopping = false;
    bool m_complete = true;
    bool m_sortingScan = false; // the scan has ended, its rows are being sorted
    ListingScan::Outcome m_scanOutcome = ListingScan::Outcome::Complete;
    bool m_listingEnabled = false; // a refresh found rows and Delete has not emptied the list
    std::array<QAction*, 4> m_mnuView{};
    std::array<QAction*, 6> m_mnuSort{};
    QAction* m_mnuHidden = nullptr;
    QAction* m_mnuFollow = nullptr;
    QAction* m_mnuMedia = nullptr;
    std::array<QAction*, kMediaViewItems> m_mnuMediaColumn{};

    QHash<const QWidget*, QRectF> m_twips;
    QSizeF m_outerTwips;
    PathSet m_removedFiles;
    PathSet m_removedFolders;
};

} // namespace treelan
