#include "ui/frmExport.h"

#include "TreelanConfig.h"
#include "export/ExportDocument.h"
#include "format/EntryFormat.h"
#include "listing/Clipboard.h"
#include "listing/FolderScan.h"
#include "listing/ListingModel.h"
#include "platform/FileError.h"
#include "settings/SettingsStore.h"
#include "settings/StringTable.h"
#include "ui/CatalogWindow.h"
#include "ui/Dialogs.h"
#include "ui/ExportCommand.h"
#include "ui/FilterStrip.h"
#include "ui/FolderDialog.h"
#include "ui/FootStrip.h"
#include "ui/LocalizeForm.h"
#include "ui/Startup.h"
#include "ui/Twips.h"
#include "ui/WaitCursor.h"
#include "ui/WarningsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <optional>

// Resources of a static library must be registered by name, outside any namespace.
static void initTreelanImages() {
    Q_INIT_RESOURCE(images);
}

namespace treelan {

namespace {

// Header click: the column's own number -> sort key (the hidden key columns for numbers).
constexpr std::array<int, 6> kColumnSortKeys = {ColName,    ColFolder,   ColSizeKey,
                                                ColDateKey, ColDuration, ColBitrateKey};
// Sort-by items Name, Size, Type, Date, Duration, Bitrate -> sort key.
constexpr std::array<int, 6> kMenuSortKeys = {ColName,    ColSizeKey,  ColTypeName,
                                              ColDateKey, ColDuration, ColBitrateKey};
constexpr std::array<Str, 4> kViewKeys = {Str::Size, Str::Date, Str::Duration, Str::Bitrate};
constexpr std::array<Str, 6> kSortKeys = {Str::Name, Str::Size,     Str::Type,
                                          Str::Date, Str::Duration, Str::Bitrate};
constexpr int kDesignCharset = 238;

// Beyond this many separate blocks, deleting rebuilds the rows instead of erasing block by block.
constexpr std::size_t kMaxErasedBlocks = 16;

QString settingsApp() {
    return QString::fromLatin1(kSettingsApp);
}

// The catalogue's window, from the list's pop-up menu or with Ctrl+K anywhere in the window: one
// per main window, non-modal, raised when already open. It adds and compares the folder shown.
void addCatalogItem(frmExport& window, QMenu& menu) {
    menu.addSeparator();
    QAction* item = menu.addAction(QObject::tr("Catalogue..."));
    item->setObjectName(QStringLiteral("mnuCatalog"));
    item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    item->setShortcutContext(Qt::WindowShortcut);
    window.addAction(item);
    QObject::connect(item, &QAction::triggered, &window, [&window] {
        auto* catalog = window.findChild<CatalogWindow*>();
        if (!catalog)
            catalog = new CatalogWindow(
                QString(), [&window] { return window.path(); }, &window);
        catalog->show();
        catalog->raise();
        catalog->activateWindow();
    });
}

} // namespace

frmExport::frmExport(const QString& startPath, const QString& resourceDir, QWidget* parent)
    : QWidget(parent), m_resourceDir(resourceDir.isEmpty() ? DefaultResourceDir() : resourceDir) {
    initTreelanImages();
    buildControls();
    buildMenus();
    Form_Load(startPath);
}

frmExport::~frmExport() = default;

void frmExport::buildControls() {
    setObjectName(QStringLiteral("frmExport"));
    setWindowTitle(QStringLiteral("Treelan"));
    setWindowIcon(QIcon(QStringLiteral(":/treelan/treelan.png")));
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(8.25);
    setFont(font);
    setProperty("charset", kDesignCharset);

    m_model = new ListingModel(this);
    buildPathRow();
    buildList();
    buildStrips();
    buildOptions();
    connectCommands();

    const TwipsScale scale = TwipsScale::of(this);
    setMinimumSize(scale.toPixels(QSizeF(kMinWidthTwips, kMinHeightTwips)));
    setOuterSizeTwips(7215, 5715); // the design client area
}

void frmExport::designed(QWidget* w, const char* name, std::optional<Str> tag,
                         const QRectF& twips) {
    w->setObjectName(QString::fromLatin1(name));
    if (tag) w->setProperty("tag", KeyText(*tag));
    w->setProperty("charset", kDesignCharset);
    place(w, twips);
}

void frmExport::buildPathRow() {
    m_cmdCopy = new QPushButton(QStringLiteral("Kopíruj"), this);
    designed(m_cmdCopy, "cmdCopy", Str::Copy, {4560, 4500, 1215, 315});
    m_cmdCopy->setEnabled(false);
    m_cmdExport = new QPushButton(QStringLiteral("Export..."), this);
    designed(m_cmdExport, "cmdExport", Str::Export, {5880, 4500, 1215, 315});
    m_cmdExport->setEnabled(false);
    m_Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    designed(m_Text1, "Text1", std::nullopt, {180, 420, 4395, 315});
    m_Text1->setEnabled(false); // the folder changes only through the browse button
    m_cmdBrowse = new QPushButton(QStringLiteral("..."), this);
    designed(m_cmdBrowse, "cmdBrowse", std::nullopt, {4680, 420, 375, 315});
    m_Label1 = new QLabel(QStringLiteral("Výchozí cesta:"), this);
    designed(m_Label1, "Label1", Str::PathLabel, {180, 180, 1035, 195});
}

void frmExport::buildList() {
    // A table view dressed as a details list: unlike a tree view it keeps nothing per row, so
    // rows arriving during a scan of a million files cost the interface thread little.
    m_lv = new QTableView(this);
    designed(m_lv, "lv", std::nullopt, {180, 840, 6975, 3555});
    m_lv->setShowGrid(false);
    m_lv->setWordWrap(false);
    m_lv->setCornerButtonEnabled(false);
    m_lv->setTabKeyNavigation(false); // Tab leaves the list, as from a list control
    QHeaderView* rowHeader = m_lv->verticalHeader();
    rowHeader->hide();
    rowHeader->setSectionResizeMode(QHeaderView::Fixed); // one height for all: no row is measured
    rowHeader->setDefaultSectionSize(m_lv->fontMetrics().height() + 4);
    m_lv->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lv->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lv->setSortingEnabled(false); // the model keeps its own order
    QHeaderView* header = m_lv->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    // A column can be dragged down to nothing; the copy then leaves it out.
    header->setMinimumSectionSize(0);
    connect(header, &QHeaderView::sectionClicked, this, &frmExport::lv_ColumnClick);
    m_lv->installEventFilter(this);
    m_lv->viewport()->installEventFilter(this);
    QItemSelectionModel* old = m_lv->selectionModel();
    m_lv->setModel(m_model);
    delete old;
}

void frmExport::buildStrips() {
    m_foot = new FootStrip(this);
    m_lblScan = m_foot->scanLabel();
    m_cmdWarnings = m_foot->warningsButton();
    m_cmdCancel = m_foot->cancelButton();
    m_foot->hide();
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmExport::cmdCancel_Click);
    connect(m_cmdWarnings, &QPushButton::clicked, this, &frmExport::cmdWarnings_Click);

    m_filter = new FilterStrip(this);
    m_filter->hide();
    connect(m_filter, &FilterStrip::filterChanged, this, &frmExport::onFilterChanged);
    connect(m_filter, &FilterStrip::wantedChanged, this, &frmExport::layoutListArea);
    connect(m_filter, &FilterStrip::leaveToList, this, [this] { m_lv->setFocus(); });
    connect(m_model, &ListingModel::filterApplied, this, &frmExport::onFilterApplied);
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, m_filter, &FilterStrip::focusBox);

    // The totals follow every change of the rows and of the selection.
    m_totalsTimer = new QTimer(this);
    m_totalsTimer->setSingleShot(true);
    m_totalsTimer->setInterval(0);
    connect(m_totalsTimer, &QTimer::timeout, this, &frmExport::updateTotals);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_model, signal, this, &frmExport::scheduleTotals);
    connect(m_model, &QAbstractItemModel::modelReset, this, &frmExport::scheduleTotals);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &frmExport::scheduleTotals);
    connect(m_lv->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmExport::scheduleTotals);

    m_scan = new ListingScan(this);
    connect(m_model, &ListingModel::backgroundSortDone, this, &frmExport::onScanSorted);
    connect(m_scan, &ListingScan::rowsFound, this, &frmExport::onRowsFound);
    connect(m_scan, &ListingScan::progress, this, &frmExport::onScanProgress);
    connect(m_scan, &ListingScan::warningsFound, this, &frmExport::onScanWarnings);
    connect(m_scan, &ListingScan::stopped, this, &frmExport::onScanStopped);
    connect(m_scan, &ListingScan::finished, this,
            [this](ListingScan::Outcome outcome, const QString&) { onScanFinished(outcome); });
}

void frmExport::buildOptions() {
    m_chkPath = new QCheckBox(QStringLiteral("Kopíruj včetně kompletní cesty"), this);
    designed(m_chkPath, "chkPath", Str::CopyFullPath, {180, 4440, 2595, 255});
    m_chkSelected = new QCheckBox(QStringLiteral("Výstup pouze vybraného"), this);
    designed(m_chkSelected, "chkSelected", Str::SelectedOnly, {180, 4740, 2595, 255});
    m_chkTree = new QCheckBox(QStringLiteral("Rozpadat i podsložky"), this);
    designed(m_chkTree, "chkTree", Str::BrowseSubfolders, {180, 5040, 2595, 255});
    m_chkmp3 = new QCheckBox(QStringLiteral("Načíst délku/přen. rychlost u .mp3"), this);
    designed(m_chkmp3, "chkmp3", Str::Mp3Info, {180, 5340, 3315, 255});

    m_imgLogo = new QLabel(this);
    designed(m_imgLogo, "imgLogo", std::nullopt, {5280, 60, 1845, 720});
    m_imgLogo->setPixmap(QPixmap(QStringLiteral(":/treelan/logo.gif")));
    m_imgLogo->setToolTip(QStringLiteral(TREELAN_HOME_PAGE));
    const QPixmap pointer(QStringLiteral(":/treelan/cursor.png"));
    // The hand's fingertip is the hot spot.
    m_imgLogo->setCursor(pointer.isNull() ? QCursor(Qt::PointingHandCursor)
                                          : QCursor(pointer, 10, 1));
    m_imgLogo->installEventFilter(this);
}

void frmExport::connectCommands() {
    connect(m_cmdCopy, &QPushButton::clicked, this, &frmExport::cmdCopy_Click);
    connect(m_cmdExport, &QPushButton::clicked, this, &frmExport::cmdExport_Click);
    connect(m_cmdBrowse, &QPushButton::clicked, this, &frmExport::cmdBrowse_Click);
    // Every change of state refreshes, by mouse or keyboard.
    connect(m_chkTree, &QCheckBox::toggled, this, &frmExport::RefreshListing);
    connect(m_chkmp3, &QCheckBox::toggled, this, &frmExport::RefreshListing);

    const std::array<QWidget*, 10> tabOrder = {m_cmdCopy, m_cmdExport, m_Text1,   m_cmdBrowse,
                                               m_Label1,  m_lv,        m_chkPath, m_chkSelected,
                                               m_chkTree, m_chkmp3};
    for (std::size_t i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
}

void frmExport::buildMenus() {
    // Shown only as the list's pop-up; the window has no menu bar.
    m_mnuPopUp = new QMenu(KeyText(Str::View), this);
    m_mnuPopUp->setObjectName(QStringLiteral("mnuPopUp"));
    QMenu* mnuV = m_mnuPopUp->addMenu(KeyText(Str::View));
    mnuV->setObjectName(QStringLiteral("mnuV"));
    for (int i = 0; i < int(kViewKeys.size()); ++i) {
        QAction* item = mnuV->addAction(KeyText(kViewKeys[std::size_t(i)]));
        item->setObjectName(QStringLiteral("mnuView%1").arg(i));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, i] { mnuView_Click(i); });
        m_mnuView[std::size_t(i)] = item;
    }
    // The media columns, hidden until chosen; they fill when media details are read.
    mnuV->addSeparator();
    for (int i = 0; i < kMediaViewItems; ++i) {
        QAction* item = mnuV->addAction(tr(kMediaFieldNames[std::size_t(i)].heading));
        item->setObjectName(QStringLiteral("mnuMediaColumn%1").arg(i));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, i] { mnuMediaColumn_Click(i); });
        m_mnuMediaColumn[std::size_t(i)] = item;
    }
    mnuV->addSeparator();
    m_mnuHidden = mnuV->addAction(tr("Hidden files"));
    m_mnuHidden->setObjectName(QStringLiteral("mnuHidden"));
    m_mnuHidden->setCheckable(true);
    m_mnuHidden->setChecked(true);
    connect(m_mnuHidden, &QAction::triggered, this, [this](bool shown) {
        SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("Hidden"),
                    shown ? QStringLiteral("1") : QStringLiteral("0"));
        RefreshListing();
    });
    m_mnuFollow = mnuV->addAction(tr("Follow links"));
    m_mnuFollow->setObjectName(QStringLiteral("mnuFollow"));
    m_mnuFollow->setCheckable(true);
    m_mnuFollow->setChecked(true);
    connect(m_mnuFollow, &QAction::triggered, this, [this](bool follow) {
        SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("FollowLinks"),
                    follow ? QStringLiteral("1") : QStringLiteral("0"));
        RefreshListing();
    });
    m_mnuMedia = mnuV->addAction(tr("Read media details"));
    m_mnuMedia->setObjectName(QStringLiteral("mnuMedia"));
    m_mnuMedia->setCheckable(true);
    connect(m_mnuMedia, &QAction::triggered, this, [this](bool read) {
        SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("Media"),
                    read ? QStringLiteral("1") : QStringLiteral("0"));
        RefreshListing();
    });
    buildStripMenuItems(mnuV);
    QMenu* mnuS = m_mnuPopUp->addMenu(KeyText(Str::SortBy));
    mnuS->setObjectName(QStringLiteral("mnuS"));
    for (int i = 0; i < int(kSortKeys.size()); ++i) {
        QAction* item = mnuS->addAction(KeyText(kSortKeys[std::size_t(i)]));
        item->setObjectName(QStringLiteral("mnuSort%1").arg(i));
        connect(item, &QAction::triggered, this, [this, i] { mnuSort_Click(i); });
        m_mnuSort[std::size_t(i)] = item;
    }
    addCatalogItem(*this, *m_mnuPopUp);
}

void frmExport::Form_Load(const QString& startPath) {
    m_Text1->setText(WithTrailingSlash(startPath));
    LocalizeForm(this);
    // The label sizes itself to its text.
    m_Label1->adjustSize();
    QRectF label = m_twips.value(m_Label1);
    label.setSize(TwipsScale::of(this).toTwips(m_Label1->size()));
    m_twips.insert(m_Label1, label);

    // Hidden files are listed unless the user unticked them once.
    m_mnuHidden->setChecked(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                       QStringLiteral("Hidden"),
                                       QStringLiteral("1")) != QStringLiteral("0"));
    m_mnuFollow->setChecked(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                       QStringLiteral("FollowLinks"),
                                       QStringLiteral("1")) != QStringLiteral("0"));
    // Media details are read only when the user asked for them once.
    m_mnuMedia->setChecked(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                      QStringLiteral("Media"),
                                      QStringLiteral("0")) == QStringLiteral("1"));
    loadStripSettings();
    RefreshListing();
    ColumnLayout& layout = m_model->columns();
    layout.arrangeColumns(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                     QStringLiteral("Rows"), QStringLiteral("1100")),
                          GetSetting(settingsApp(), QStringLiteral("Startup"),
                                     QStringLiteral("MediaColumns"), QString()));
    for (int i = 0; i < kViewItems; ++i)
        mnuView(i)->setChecked(layout.viewItemTicked(i));
    for (int i = 0; i < kMediaViewItems; ++i)
        mnuMediaColumn(i)->setChecked(layout.mediaItemTicked(i));
    loadHeader(layout);
}

// --- state ---

QString frmExport::path() const {
    return m_Text1->text();
}
bool frmExport::browseSubfolders() const {
    return m_chkTree->isChecked();
}
bool frmExport::mp3Info() const {
    return m_chkmp3->isChecked();
}
bool frmExport::fullPathMode() const {
    return m_chkPath->isChecked();
}
bool frmExport::selectedOnly() const {
    return m_chkSelected->isChecked();
}
bool frmExport::showHidden() const {
    return m_mnuHidden->isChecked();
}
bool frmExport::followLinks() const {
    return m_mnuFollow->isChecked();
}
bool frmExport::mediaDetails() const {
    return m_mnuMedia->isChecked();
}

ExportOptions frmExport::exportOptions() const {
    ExportOptions options = scanOptions(); // what the listing walks, the export walks
    options.selectedOnly = selectedOnly();
    for (const QByteArray& file : m_removedFiles.files())
        options.removed.add(file);
    for (const QByteArray& folder : m_removedFolders.folders())
        options.removed.add(folder);
    if (options.selectedOnly) {
        for (const int row : selectedRows())
            options.selected.add(m_model->rawPath(row));
    }
    // While a filter holds, the rows it hides are left out as deleted ones are.
    m_model->forEachHiddenRow(
        [&options](const QByteArray& path, bool) { options.removed.add(path); });
    return options;
}

// --- listing ---

ScanOptions frmExport::scanOptions() const {
    ScanOptions options;
    options.rootPath = path();
    options.browseSubfolders = browseSubfolders();
    options.mediaInfo = mediaDetails();
    options.mp3Info = mp3Info() || options.mediaInfo;
    options.walk.noHidden = !showHidden();
    options.walk.noFollow = !followLinks();
    return options;
}

void frmExport::RefreshListing() {
    m_removedFiles = PathSet();
    m_removedFolders = PathSet();
    m_warnings.clear();
    m_complete = false;
    m_sortingScan = false;
    m_scan->dispose(m_model->takeRows()); // also ends a sort of the last scan's rows
    // A scan still running is cancelled by the new one.
    m_scan->start(scanOptions());
    m_scanFolders = m_scanEntries = 0;
    m_scanFolder.clear();
    m_scanStopping = false;
    updateScanBar();
    updateButtons();
}

void frmExport::cmdCancel_Click() {
    if (!m_scan->isRunning()) return;
    m_scan->cancel();
}

void frmExport::onRowsFound(ListingModel::Store& rows) {
    m_model->appendRows(std::move(rows));
}

void frmExport::onScanProgress(qint64 folders, qint64 entries, const QString& folder) {
    m_scanFolders = folders;
    m_scanEntries = entries;
    m_scanFolder = folder;
    updateScanBar();
}

void frmExport::onScanWarnings(const std::vector<Warning>& warnings) {
    m_warnings.insert(m_warnings.end(), warnings.begin(), warnings.end());
    updateScanBar();
}

void frmExport::addWarnings(const std::vector<Warning>& warnings) {
    onScanWarnings(warnings);
}

void frmExport::onScanStopped() {
    m_scanStopping = true;
    updateScanBar();
}

void frmExport::onScanFinished(ListingScan::Outcome outcome) {
    // A folder that cannot be listed gives no rows, like an empty one.
    if (outcome == ListingScan::Outcome::Failed) m_model->clear();
    m_scanOutcome = outcome;
    m_sortingScan = true;
    // The rows stay readable, and the window alive, while they are put in order.
    m_model->sortInBackground();
    updateScanBar();
}

void frmExport::onScanSorted() {
    if (!m_sortingScan) return;
    m_sortingScan = false;
    m_complete = m_scanOutcome == ListingScan::Outcome::Complete;
    m_scanStopping = false;
    // Rows a filter hides are rows found all the same: clearing the filter shows them.
    if (m_model->storedRowCount() > 0) m_listingEnabled = true;
    if (m_model->rowCount() > 0) selectRow(0);
    updateScanBar();
    updateButtons();
    emit scanFinished();
}

bool frmExport::isScanning() const {
    return m_scan->isRunning() || m_sortingScan;
}

void frmExport::updateButtons() {
    // While a scan runs the list is not yet what Copy and Export would use: they wait, disabled,
    // and their tip says why.
    const bool scanning = isScanning();
    const QString filtered =
        m_model->isFiltered() ? tr("Rows the filter hides are left out") : QString();
    const QString tip =
        scanning ? tr("Available when the listing is complete or stopped") : filtered;
    for (QPushButton* button : {m_cmdCopy, m_cmdExport}) {
        button->setEnabled(m_listingEnabled && !scanning);
        button->setToolTip(tip);
    }
    m_chkSelected->setToolTip(filtered);
}

QString frmExport::scanStatusText() const {
    const QLocale locale;
    const QString counts = tr("%1 folders, %2 entries")
                               .arg(locale.toString(m_scanFolders), locale.toString(m_scanEntries));
    QString text;
    if (isScanning()) {
        if (m_scanStopping)
            text = tr("Stopping; sorting the %1 rows found...")
                       .arg(locale.toString(m_model->rowCount()));
        else if (m_sortingScan)
            text = tr("Sorting the %1 rows found...").arg(locale.toString(m_model->rowCount()));
        else
            text = tr("Listing: %1 - %2").arg(counts, m_scanFolder);
    } else if (!m_complete) {
        text = tr("Stopped: the listing is incomplete (%1)").arg(counts);
    }
    if (!m_warnings.empty()) {
        const QString unread = tr("%n entries could not be read", nullptr, int(m_warnings.size()));
        text = text.isEmpty() ? unread : text + QStringLiteral("; ") + unread;
    }
    return text;
}

void frmExport::updateScanBar() {
    const bool scanning = isScanning();
    const QString text = scanStatusText();
    m_foot->setScan(text, scanning, m_scan->isRunning() && !m_scanStopping, !m_warnings.empty());
    layoutListArea();
}

void frmExport::cmdWarnings_Click() {
    WarningsDialog dialog(m_warnings, this);
    dialog.exec();
}

void frmExport::loadHeader(const ColumnLayout& layout) {
    if (&layout != &m_model->columns()) m_model->columns() = layout;
    QHeaderView* header = m_lv->horizontalHeader();
    const TwipsScale scale = TwipsScale::of(this);
    for (int c = 0; c < kListingColumns; ++c) {
        // The key columns and unticked View columns are hidden, not just narrow: they must never
        // be dragged open. A shown column the user dragged to no width keeps its heading.
        const bool offered = layout.isOffered(c);
        header->setSectionHidden(c, !offered);
        if (offered) header->resizeSection(c, scale.toPixelsX(layout.columnWidth(c)));
    }
    const std::vector<int> order = layout.displayOrder();
    for (int visual = 0; visual < int(order.size()); ++visual) {
        const int from = header->visualIndex(order[std::size_t(visual)]);
        if (from != visual) header->moveSection(from, visual);
    }
}

ColumnLayout frmExport::columnLayout() const {
    ColumnLayout layout = m_model->columns();
    const QHeaderView* header = m_lv->horizontalHeader();
    const TwipsScale scale = TwipsScale::of(this);
    for (int c = 0; c < kListingColumns; ++c) {
        // A width not dragged keeps its exact twips.
        const int pixels = header->sectionSize(c);
        if (!header->isSectionHidden(c) && pixels != scale.toPixelsX(layout.columnWidth(c)))
            layout.setColumnWidth(c, scale.toTwipsX(pixels));
    }
    for (int visual = 0; visual < header->count(); ++visual)
        layout.setDisplayPosition(header->logicalIndex(visual), visual + 1);
    return layout;
}

std::vector<int> frmExport::selectedRows() const {
    std::vector<int> rows;
    const QItemSelectionModel* selection = m_lv->selectionModel();
    if (!selection) return rows;
    for (const QItemSelectionRange& range : selection->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

bool frmExport::isRowSelected(int row) const {
    const QItemSelectionModel* selection = m_lv->selectionModel();
    return selection && selection->isRowSelected(row, {});
}

void frmExport::selectRow(int row) {
    const QModelIndex index = m_model->index(row, 0);
    m_lv->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    m_lv->scrollTo(index);
}

void frmExport::Form_Activate() {
    // The first row becomes the selected one, but a selection the user made is kept: it may be
    // what "Selected items only" is about to copy or export.
    if (m_model->rowCount() > 0 && !m_lv->selectionModel()->hasSelection()) selectRow(0);
}

// --- commands ---

void frmExport::flipSort(int key) {
    const Qt::SortOrder order =
        m_model->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    WaitCursor wait;
    m_model->sort(key, order); // one sort for key and order together
}

void frmExport::lv_ColumnClick(int column) {
    if (column >= 0 && column < int(kColumnSortKeys.size()))
        flipSort(kColumnSortKeys[std::size_t(column)]);
    else if (column >= ColMedia && column < kListingColumns)
        flipSort(column); // a media column sorts by itself
}

void frmExport::mnuSort_Click(int index) {
    if (index >= 0 && index < int(kMenuSortKeys.size()))
        flipSort(kMenuSortKeys[std::size_t(index)]);
}

void frmExport::mnuView_Click(int index) {
    if (index < 0 || index >= kViewItems) return;
    ColumnLayout layout = columnLayout();
    const bool ticked = !layout.viewItemTicked(index);
    layout.setViewItemTicked(index, ticked);
    mnuView(index)->setChecked(ticked);
    layout.applyViewItem(index);
    loadHeader(layout);
    SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("Rows"),
                layout.rowsSetting());
}

void frmExport::mnuMediaColumn_Click(int index) {
    if (index < 0 || index >= kMediaViewItems) return;
    ColumnLayout layout = columnLayout();
    const bool ticked = !layout.mediaItemTicked(index);
    layout.setMediaItemTicked(index, ticked);
    mnuMediaColumn(index)->setChecked(ticked);
    layout.applyMediaItem(index);
    loadHeader(layout);
    SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("MediaColumns"),
                layout.mediaRowsSetting());
}

void frmExport::DeleteSelectedRows() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return;

    // Raw paths relative to the root, as the export matches them: a file as folder + name, a
    // subfolder row of the flat listing as its folder ("Sub/").
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (m_model->isSubfolderRow(*it))
            m_removedFolders.add(m_model->rawPath(*it));
        else
            m_removedFiles.add(m_model->rawPath(*it));
    }
    const int lowest = rows.front();
    removeRows(rows);

    const int left = m_model->rowCount();
    if (left == 0) {
        // Emptied, unless a filter hides rows that are left.
        m_listingEnabled = m_model->storedRowCount() > 0;
        updateButtons();
        return;
    }
    // The row that followed the removed block, or the new last row.
    selectRow(lowest < left ? lowest : left - 1);
}

void frmExport::removeRows(const std::vector<int>& ascendingRows) {
    std::vector<std::pair<int, int>> blocks; // first row, count
    for (int row : ascendingRows) {
        if (!blocks.empty() && blocks.back().first + blocks.back().second == row)
            ++blocks.back().second;
        else
            blocks.emplace_back(row, 1);
    }
    if (blocks.size() <= kMaxErasedBlocks) {
        for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
            m_model->removeRows(it->first, it->second);
        return;
    }
    // Many scattered rows: one pass over the list rather than block after block from the middle.
    WaitCursor wait;
    m_model->removeRowsAt(ascendingRows);
}

void frmExport::cmdCopy_Click() {
    m_model->columns() = columnLayout(); // the copy leaves out the columns dragged to nothing
    QGuiApplication::clipboard()->setText(
        selectedOnly() ? ClipboardText(*m_model, path(), fullPathMode(), selectedRows())
                       : ClipboardText(*m_model, path(), fullPathMode()));
}

void frmExport::cmdExport_Click() {
    RunExportCommand(*this);
}

void frmExport::cmdBrowse_Click() {
    std::unique_ptr<FolderDialog> dialog = CurrentDialogs().folderDialog(this);
    if (!dialog) return;
    dialog->prompt = GetGuiString(Str::ChooseFolder);
    // Without its trailing "/"; the root stays "/" rather than becoming no folder at all.
    const QString current = path();
    dialog->startFolder = current.size() > 1 ? current.chopped(1) : current;
    if (!dialog->Browse()) return;
    const QString chosen = dialog->chosenPath();
    if (chosen.isEmpty()) return; // nothing to list: as good as a cancel
    m_Text1->setText(WithTrailingSlash(chosen));
    SaveSetting(settingsApp(), QStringLiteral("StartUp"), QStringLiteral("Path"), path());
    RefreshListing();
}

void frmExport::imgLogo_Click() {
    CurrentDialogs().openUrl(QUrl(QStringLiteral(TREELAN_HOME_PAGE)));
}

// --- events and layout ---

bool frmExport::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QWidget::event(e);
}

bool frmExport::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_lv && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Delete) {
            DeleteSelectedRows(); // whatever Shift, Ctrl and Alt say
            return true;
        }
        if (key->key() == Qt::Key_Menu ||
            (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            // From the keyboard the menu opens at the current row, or the list's corner.
            const QRect current = m_lv->visualRect(m_lv->currentIndex());
            const QPoint at = current.isValid() ? current.bottomLeft() : QPoint(0, 0);
            m_mnuPopUp->popup(m_lv->viewport()->mapToGlobal(at));
            return true;
        }
    }
    if (watched == m_lv->viewport() && e->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->button() == Qt::RightButton) {
            // The selection stays as it is: the menu's commands act on the whole list.
            m_mnuPopUp->popup(m_lv->viewport()->mapToGlobal(mouse->position().toPoint()));
            return true;
        }
    }
    if (watched == m_imgLogo && e->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->button() == Qt::LeftButton &&
            m_imgLogo->rect().contains(mouse->position().toPoint()))
            imgLogo_Click();
    }
    return QWidget::eventFilter(watched, e);
}

void frmExport::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Form_Resize();
}

QSize frmExport::frameExtra() const {
    if (!isWindow() || !isVisible()) return {0, 0};
    return frameGeometry().size() - size();
}

void frmExport::place(QWidget* control, const QRectF& twips) {
    m_twips.insert(control, twips);
    control->setGeometry(TwipsScale::of(this).toPixels(twips));
}

void frmExport::setOuterSizeTwips(double width, double height) {
    const TwipsScale scale = TwipsScale::of(this);
    m_outerTwips = QSizeF(width, height);
    resize(scale.toPixels(m_outerTwips) - frameExtra());
    Form_Resize();
}

void frmExport::Form_Resize() {
    if (isMinimized()) return;
    const TwipsScale scale = TwipsScale::of(this);
    const QSize outerPixels = size() + frameExtra();
    // Keep the exact twips of a size set in twips; a size the user dragged comes from pixels.
    QSizeF outer =
        scale.toPixels(m_outerTwips) == outerPixels ? m_outerTwips : scale.toTwips(outerPixels);
    const bool tooSmall = outer.width() < kMinWidthTwips || outer.height() < kMinHeightTwips;
    outer = outer.expandedTo(QSizeF(kMinWidthTwips, kMinHeightTwips));
    m_outerTwips = outer;
    const QSize floor = scale.toPixels(QSizeF(kMinWidthTwips, kMinHeightTwips)) - frameExtra();
    if (minimumSize() != floor) setMinimumSize(floor);
    if (tooSmall) {
        const QSize wanted = scale.toPixels(outer) - frameExtra();
        if (wanted != size()) resize(wanted);
    }

    const double W = outer.width();
    const double H = outer.height();
    QRectF logo = m_twips.value(m_imgLogo);
    logo.moveLeft(W - logo.width() - 200);
    place(m_imgLogo, logo);

    QRectF lv = m_twips.value(m_lv);
    lv.setWidth(W - lv.left() - 200);
    lv.setHeight(H - 1750 - lv.top());
    place(m_lv, lv);

    layoutListArea();

    QRectF browse = m_twips.value(m_cmdBrowse);
    browse.moveLeft(logo.left() - 600);
    place(m_cmdBrowse, browse);

    QRectF text = m_twips.value(m_Text1);
    text.setWidth(browse.left() - 100 - text.left());
    place(m_Text1, text);

    QRectF exportButton = m_twips.value(m_cmdExport);
    exportButton.moveTo(W - exportButton.width() - 200, H - 1650);
    place(m_cmdExport, exportButton);

    QRectF copy = m_twips.value(m_cmdCopy);
    copy.moveTo(exportButton.left() - copy.width() - 100, exportButton.top());
    place(m_cmdCopy, copy);

    // Stacked at the pitch of chkPath's height, not at their design pitch.
    const double pitch = m_twips.value(m_chkPath).height();
    double top = exportButton.top();
    for (QCheckBox* box : {m_chkPath, m_chkSelected, m_chkTree, m_chkmp3}) {
        QRectF r = m_twips.value(box);
        r.moveTop(top);
        place(box, r);
        top += pitch;
    }
}

// --- filter and totals ---

namespace {

// Hours, minutes and seconds; the hours as many digits as they take, at least two.
QString playingTime(quint64 seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// In the Size column's units: "12 288 kB".
QString sizeTotal(quint64 bytes) {
    QByteArray text;
    AppendSizeText(text, qint64(std::min<quint64>(bytes, quint64(INT64_MAX))));
    return QString::fromLatin1(text);
}

} // namespace

void frmExport::buildStripMenuItems(QMenu* view) {
    m_mnuFilterBox = view->addAction(tr("Filter box"));
    m_mnuFilterBox->setObjectName(QStringLiteral("mnuFilterBox"));
    m_mnuFilterBox->setCheckable(true);
    connect(m_mnuFilterBox, &QAction::triggered, this, [this](bool shown) {
        SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("FilterBox"),
                    shown ? QStringLiteral("1") : QStringLiteral("0"));
        m_filter->setAlwaysShown(shown);
    });
    m_mnuTotals = view->addAction(tr("Totals"));
    m_mnuTotals->setObjectName(QStringLiteral("mnuTotals"));
    m_mnuTotals->setCheckable(true);
    connect(m_mnuTotals, &QAction::triggered, this, [this](bool shown) {
        SaveSetting(settingsApp(), QStringLiteral("Startup"), QStringLiteral("Totals"),
                    shown ? QStringLiteral("1") : QStringLiteral("0"));
        updateTotals();
    });
}

void frmExport::loadStripSettings() {
    // The filter box shows when used unless asked for always; the totals show unless unticked.
    m_mnuFilterBox->setChecked(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                          QStringLiteral("FilterBox"),
                                          QStringLiteral("0")) == QStringLiteral("1"));
    m_mnuTotals->setChecked(GetSetting(settingsApp(), QStringLiteral("Startup"),
                                       QStringLiteral("Totals"),
                                       QStringLiteral("1")) != QStringLiteral("0"));
    m_filter->setAlwaysShown(m_mnuFilterBox->isChecked());
}

void frmExport::layoutListArea() {
    if (!m_foot || !m_filter) return;
    // The list's own place; the strips take their rows from it, the list keeps the rest.
    const QRect area = TwipsScale::of(this).toPixels(m_twips.value(m_lv));
    const int stripHeight = m_cmdCancel->sizeHint().height() + 2;
    const bool filterShown = m_filter->wanted();
    int top = area.top(), bottom = area.top() + area.height();
    if (filterShown) {
        m_filter->setGeometry(area.left(), top, area.width(), stripHeight);
        top += stripHeight;
    }
    // The totals want room for a few rows besides; a scan's news shows whatever the room.
    const int rowsRoom = bottom - top - stripHeight - m_lv->horizontalHeader()->sizeHint().height();
    const bool totalsRoom = rowsRoom >= 3 * m_lv->verticalHeader()->defaultSectionSize();
    const QString totals = totalsRoom ? totalsText() : QString();
    if (totals != m_foot->totalsLabel()->text()) m_foot->setTotals(totals);
    const bool footShown = m_foot->hasScan() || m_foot->hasTotals();
    if (footShown) {
        bottom -= stripHeight;
        m_foot->setGeometry(area.left(), bottom, area.width(), stripHeight);
    }
    m_filter->setVisible(filterShown);
    m_foot->setVisible(footShown);
    const QRect list(area.left(), top, area.width(), bottom - top);
    if (m_lv->geometry() != list) m_lv->setGeometry(list);
}

void frmExport::onFilterChanged(const QString& pattern) {
    m_model->setFilter(pattern);
    layoutListArea();
}

void frmExport::onFilterApplied() {
    const QLocale locale;
    m_filter->setFound(m_model->isFiltered() ? tr("%1 of %2")
                                                   .arg(locale.toString(m_model->rowCount()),
                                                        locale.toString(m_model->storedRowCount()))
                                             : QString());
    // The current row may have been hidden: one that stays shown takes its place.
    if (m_model->rowCount() > 0 && !m_lv->currentIndex().isValid() &&
        !m_lv->selectionModel()->hasSelection())
        m_lv->selectionModel()->setCurrentIndex(m_model->index(0, 0),
                                                QItemSelectionModel::NoUpdate);
    updateButtons();
    updateTotals();
}

void frmExport::scheduleTotals() {
    if (!m_totalsTimer->isActive()) m_totalsTimer->start();
}

QString frmExport::totalsText() const {
    if (!m_mnuTotals || !m_mnuTotals->isChecked()) return {};
    const QLocale locale;
    const ListingModel::Totals& shown = m_model->shownTotals();
    const auto counted = [&locale](qint64 n, const QString& one, const QString& many) {
        return locale.toString(n) + QLatin1Char(' ') + (n == 1 ? one : many);
    };
    QString text = tr("%1, %2: %3, %4")
                       .arg(counted(shown.files, tr("file"), tr("files")),
                            counted(shown.folders, tr("folder"), tr("folders")),
                            sizeTotal(shown.bytes), playingTime(shown.seconds));
    // Runs of selected rows, each counted once however many column ranges cover it.
    std::vector<std::pair<int, int>> runs;
    for (const QItemSelectionRange& range : m_lv->selectionModel()->selection())
        runs.emplace_back(range.top(), range.bottom());
    std::sort(runs.begin(), runs.end());
    ListingModel::Totals selected;
    qint64 count = 0;
    int next = 0; // the first row not yet counted
    for (const auto& [top, bottom] : runs) {
        const int from = std::max(top, next);
        if (from > bottom) continue;
        selected += m_model->totals(from, bottom);
        count += bottom - from + 1;
        next = bottom + 1;
    }
    if (count > 0)
        text += QStringLiteral("; ") + tr("%1 selected: %2, %3")
                                           .arg(locale.toString(count), sizeTotal(selected.bytes),
                                                playingTime(selected.seconds));
    return text;
}

void frmExport::updateTotals() {
    m_totalsTimer->stop();
    layoutListArea();
}

} // namespace treelan
