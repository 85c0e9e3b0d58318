#include "ui/CatalogWindow.h"

#include "catalog/Add.h"
#include "catalog/Source.h"
#include "catalog/Text.h"
#include "catalog/WalkFilters.h"
#include "export/ExportDocument.h"
#include "format/EntryFormat.h"
#include "listing/Clipboard.h"
#include "listing/ListingScan.h"
#include "platform/FileError.h"
#include "platform/FileTime.h"
#include "platform/ThreadPriority.h"
#include "settings/StringTable.h"
#include "ui/CompareView.h"
#include "ui/Dialogs.h"
#include "ui/ExportCommand.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>
#include <mutex>

namespace treelan {

using namespace catalog;

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kHandOverMs = 50; // a search's rows go over at most this often
constexpr std::size_t kHitBatch = 1000;
constexpr int kSnapshotRole = Qt::UserRole; // a tree item's snapshot number; 0 on a volume

QString sizeText(std::int64_t bytes) {
    QByteArray b;
    AppendSizeText(b, bytes);
    return QString::fromLatin1(b);
}

QString whenText(std::int64_t ns) {
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}

std::int64_t fileTimeOf(std::int64_t ns) {
    std::int64_t seconds = ns / 1'000'000'000, rest = ns % 1'000'000'000;
    if (rest < 0) {
        --seconds;
        rest += 1'000'000'000;
    }
    return FileTimeFromUnix(seconds, rest);
}

// Turns search results into the listing's rows, as the scan formats a file's.
class HitRows {
public:
    HitRows() : m_folderMarker(QLatin1Char('<') + GetGuiString(Str::Folder) + QLatin1Char('>')) {}

    void add(ListingModel& model, const SearchHit& h) {
        std::string_view path(h.path);
        const bool folder = h.kind == Kind::Folder;
        if (folder) path.remove_suffix(1);
        const std::size_t slash = path.rfind('/');
        const std::string_view dir = path.substr(0, slash + 1);
        const std::string_view name = path.substr(slash + 1);
        const QString dirText = QString::fromStdString(DisplayText(dir));
        const QByteArray rawDir(dir.data(), qsizetype(dir.size()));
        const QByteArray rawName(name.data(), qsizetype(name.size()));
        FileEntryView row{};
        if (folder) {
            const QString folderText =
                dirText + QString::fromStdString(DisplayText(name)) + QLatin1Char('/');
            const QByteArray raw = QByteArray::fromStdString(h.path);
            row[ColFolder] = folderText;
            row[ColSize] = m_folderMarker;
            model.addRow(row, true, {IsUtf8(h.path) ? QByteArrayView() : raw, {}});
            return;
        }
        const QString nameText = QString::fromStdString(DisplayText(name));
        const QString typeName = TypeNameForFile(nameText);
        row[ColName] = nameText;
        row[ColFolder] = dirText;
        row[ColTypeName] = typeName;
        const std::int64_t fileTime = fileTimeOf(h.mtime);
        m_bytes.truncate(0);
        AppendListingSizeText(m_bytes, h.size);
        const qsizetype sizeEnd = m_bytes.size();
        AppendDateText(m_bytes, fileTime);
        const qsizetype dateEnd = m_bytes.size();
        AppendDecimal(m_bytes, quint64(std::max<std::int64_t>(h.size, 0)), 12);
        const qsizetype keyEnd = m_bytes.size();
        AppendDecimal(m_bytes, quint64(fileTime) >> 32, 1);
        const QString numbers = QString::fromLatin1(m_bytes);
        const QStringView all(numbers);
        row[ColSize] = all.first(sizeEnd);
        row[ColDate] = all.sliced(sizeEnd, dateEnd - sizeEnd);
        row[ColSizeKey] = all.sliced(dateEnd, keyEnd - dateEnd);
        row[ColDateKey] = all.sliced(keyEnd);
        model.addRow(row, false,
                     {IsUtf8(dir) ? QByteArrayView() : QByteArrayView(rawDir),
                      IsUtf8(name) ? QByteArrayView() : QByteArrayView(rawName)});
    }

private:
    QString m_folderMarker;
    QByteArray m_bytes;
};

// A snapshot as the source of a listing, with the catalogue connection it reads through.
struct SnapshotSource {
    std::unique_ptr<Catalog> catalog;
    std::unique_ptr<SnapshotTreeSource> source;
};

} // namespace

// --- the list's model ---

CatalogListModel::CatalogListModel(QObject* parent) : ListingModel(parent) {
    // A sort tells the views of the listing's own columns only.
    connect(this, &ListingModel::backgroundSortDone, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, kVolumeColumn), index(rowCount() - 1, kVolumeColumn));
    });
}

int CatalogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kListingColumns + 1;
}

const CatalogListModel::VolumeMark* CatalogListModel::volumeOfRow(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    const quint64 order = addedOrder(row);
    const int v = order < m_volumeOf.size() ? m_volumeOf[std::size_t(order)] : m_fallback;
    return v >= 0 && std::size_t(v) < m_volumes.size() ? &m_volumes[std::size_t(v)] : nullptr;
}

QVariant CatalogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::ForegroundRole) {
        const VolumeMark* v = volumeOfRow(index.row());
        if (v && !v->online)
            return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
        return {};
    }
    if (index.column() == kVolumeColumn) {
        if (role != Qt::DisplayRole) return {};
        const VolumeMark* v = volumeOfRow(index.row());
        return v ? v->label : QString();
    }
    return ListingModel::data(index, role);
}

QVariant CatalogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == kVolumeColumn)
        return role == Qt::DisplayRole ? QVariant(tr("Volume")) : QVariant();
    return ListingModel::headerData(section, orientation, role);
}

void CatalogListModel::sort(int column, Qt::SortOrder order) {
    if (column < kListingColumns) ListingModel::sort(column, order);
}

void CatalogListModel::setVolumes(std::vector<VolumeMark> volumes, int fallback) {
    m_volumes = std::move(volumes);
    m_fallback = fallback;
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kVolumeColumn));
}

ListingModel::Store CatalogListModel::takeAllRows() {
    Store rows = takeRows();
    m_volumeOf.clear();
    m_fallback = -1;
    return rows;
}

// --- the jobs ---

struct CatalogWindow::SearchJob {
    std::mutex lock;
    struct Batch {
        ListingModel::Store rows;
        std::vector<int> volumes;
    };
    std::deque<Batch> pending;
    QString error;
    std::int64_t found = 0;
    std::unique_ptr<BackgroundJob<bool>> worker; // last: joined before the rest goes
};

struct CatalogWindow::AddJob {
    struct Outcome {
        QString text;
        bool ok = false;
    };
    std::mutex lock;
    qint64 folders = 0, entries = 0;
    QString folder;
    std::unique_ptr<BackgroundJob<Outcome>> worker;
};

struct CatalogWindow::CompareJob {
    struct Outcome {
        std::shared_ptr<DiffResult> result;
        std::vector<FolderChanges> folders;
        QString error;
    };
    std::mutex lock;
    qint64 entries = 0;
    QString title;
    std::unique_ptr<BackgroundJob<Outcome>> worker;
};

// --- the window ---

CatalogWindow::CatalogWindow(const QString& catalogPath, std::function<QString()> folderNow,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_path(catalogPath.isEmpty() ? QString::fromStdString(Catalog::DefaultPath()) : catalogPath),
      m_folderNow(std::move(folderNow)) {
    setObjectName(QStringLiteral("catalogWindow"));
    // A companion of the main window: closing the main window ends the program all the same.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(tr("Catalogue - %1").arg(m_path));
    buildControls();
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CatalogWindow::poll);
    resize(1200, 680);
    m_search->setFocus();
    reloadVolumes();
}

CatalogWindow::~CatalogWindow() {
    // The workers stop and are joined before the model they feed goes.
    m_searchJob.reset();
    m_oldSearches.clear();
    m_addJob.reset();
    m_compareJob.reset();
}

void CatalogWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("searchBox"));
    m_search->setPlaceholderText(
        tr("Search the catalogue: part of a name, or *.jpg; f: files, d: folders"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::returnPressed, this, &CatalogWindow::startSearch);
    m_allSnapshots = new QCheckBox(tr("All snapshots"), this);
    m_allSnapshots->setObjectName(QStringLiteral("allSnapshots"));
    m_cmdSearch = new QPushButton(tr("&Search"), this);
    m_cmdSearch->setObjectName(QStringLiteral("cmdSearch"));
    connect(m_cmdSearch, &QPushButton::clicked, this, &CatalogWindow::startSearch);
    top->addWidget(m_search, 1);
    top->addWidget(m_allSnapshots);
    top->addWidget(m_cmdSearch);
    layout->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, this);
    m_tree = new QTreeWidget(split);
    m_tree->setObjectName(QStringLiteral("volumeTree"));
    m_tree->setHeaderLabels({tr("Volume"), tr("Taken"), tr("Files"), tr("Size"), tr("State")});
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setColumnWidth(0, 170);
    m_tree->setColumnWidth(1, 120);
    m_tree->setColumnWidth(2, 60);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CatalogWindow::onTreeSelection);

    m_model = new CatalogListModel(this);
    m_model->columns().arrangeColumns(ColumnLayout::kDefaultViewItems);
    m_list = new QTableView(split);
    m_list->setObjectName(QStringLiteral("catalogList"));
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setCornerButtonEnabled(false);
    QHeaderView* rowHeader = m_list->verticalHeader();
    rowHeader->hide();
    rowHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowHeader->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setModel(m_model);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    const TwipsScale scale = TwipsScale::of(this);
    const ColumnLayout& columns = m_model->columns();
    for (int c = 0; c < kListingColumns; ++c) {
        header->setSectionHidden(c, !columns.isOffered(c));
        if (columns.isOffered(c)) header->resizeSection(c, scale.toPixelsX(columns.columnWidth(c)));
    }
    const std::vector<int> order = columns.displayOrder();
    for (int visual = 0; visual < int(order.size()); ++visual)
        header->moveSection(header->visualIndex(order[std::size_t(visual)]), visual);
    // The volume first: in a search it tells the results apart.
    header->moveSection(header->visualIndex(CatalogListModel::kVolumeColumn), 0);
    header->resizeSection(CatalogListModel::kVolumeColumn, 100);
    // Search results carry whole paths: wider than the main window's columns.
    header->resizeSection(ColName, 200);
    header->resizeSection(ColFolder, 320);
    connect(header, &QHeaderView::sectionClicked, this, &CatalogWindow::onListColumnClick);
    connect(m_model, &ListingModel::backgroundSortDone, this, [this] {
        if (!m_sorting) return;
        m_sorting = false;
        updateButtons();
        emit workDone();
    });
    split->addWidget(m_tree);
    split->addWidget(m_list);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 5);
    split->setSizes({440, 760});
    layout->addWidget(split, 1);

    m_scan = new ListingScan(this);
    connect(m_scan, &ListingScan::rowsFound, this, [this](ListingModel::Store& rows) {
        if (m_listed == 0) // a search took the list: the scan's last rows go
            m_scan->dispose(std::move(rows));
        else
            m_model->appendRows(std::move(rows));
    });
    connect(m_scan, &ListingScan::progress, this, [this](qint64, qint64 entries, const QString&) {
        if (m_listed != 0) setStatus(tr("Listing: %1 entries").arg(QLocale().toString(entries)));
    });
    connect(m_scan, &ListingScan::finished, this,
            [this](ListingScan::Outcome outcome, const QString& error) {
                if (m_listed == 0) return;
                if (outcome == ListingScan::Outcome::Failed)
                    setStatus(error);
                else
                    setStatus(tr("%1 entries").arg(QLocale().toString(m_model->rowCount())));
                m_sorting = true;
                m_model->sortInBackground();
                updateButtons();
            });

    auto* foot = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    foot->addWidget(m_status, 1);
    const auto button = [this, foot](QPushButton*& b, const QString& text, const char* name,
                                     void (CatalogWindow::*slot)()) {
        b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        connect(b, &QPushButton::clicked, this, slot);
        foot->addWidget(b);
    };
    button(m_cmdAdd, tr("&Add to catalogue"), "cmdAdd", &CatalogWindow::addFolder);
    button(m_cmdCompare, tr("C&ompare..."), "cmdCompare", &CatalogWindow::compare);
    button(m_cmdCopy, tr("&Copy"), "cmdCopy", &CatalogWindow::copyRows);
    button(m_cmdExport, tr("&Export..."), "cmdExport", &CatalogWindow::exportRows);
    button(m_cmdCancel, tr("Cancel"), "cmdCancel", &CatalogWindow::cancelWork);
    layout->addLayout(foot);
    updateButtons();
}

void CatalogWindow::setStatus(const QString& text) {
    m_status->setText(text);
}

QString CatalogWindow::statusText() const {
    return m_status->text();
}

bool CatalogWindow::isBusy() const {
    return m_searchJob || m_addJob || m_compareJob || m_scan->isRunning() || m_sorting;
}

void CatalogWindow::updateButtons() {
    const std::size_t chosen = selectedSnapshots().size();
    m_cmdAdd->setEnabled(!m_addJob && m_folderNow);
    m_cmdCompare->setEnabled(!m_compareJob && (chosen == 1 || chosen == 2));
    const bool listed = m_model->rowCount() > 0;
    m_cmdCopy->setEnabled(listed);
    m_cmdExport->setEnabled(listed && !m_sorting);
    m_cmdCancel->setEnabled(isBusy());
    if (isBusy()) {
        if (!m_poll.isActive()) m_poll.start();
    }
}

std::optional<SnapshotRow> CatalogWindow::snapshotRow(std::int64_t id) const {
    for (const VolumeState& v : m_volumes)
        for (const SnapshotRow& s : v.snapshots)
            if (s.id == id) return s;
    return std::nullopt;
}

void CatalogWindow::reloadVolumes() {
    if (!QFileInfo::exists(m_path)) {
        m_volumes.clear();
        fillTree(m_volumes);
        setStatus(tr("No catalogue yet: \"Add to catalogue\" makes %1").arg(m_path));
        return;
    }
    try {
        Catalog catalog(m_path.toStdString(), Catalog::Mode::Read);
        m_volumes = BrowseVolumes(catalog);
    } catch (const CatalogError& e) {
        m_volumes.clear();
        fillTree(m_volumes);
        setStatus(QString::fromUtf8(e.what()));
        return;
    }
    fillTree(m_volumes);
    std::size_t snapshots = 0;
    for (const VolumeState& v : m_volumes)
        snapshots += v.snapshots.size();
    setStatus(tr("%1 volumes, %2 snapshots").arg(m_volumes.size()).arg(snapshots));
    std::vector<CatalogListModel::VolumeMark> marks;
    for (const VolumeState& v : m_volumes)
        marks.push_back({QString::fromStdString(v.volume.label), v.online()});
    int fallback = -1;
    if (const std::optional<SnapshotRow> s = snapshotRow(m_listed))
        for (std::size_t i = 0; i < m_volumes.size(); ++i)
            if (m_volumes[i].volume.id == s->volume) fallback = int(i);
    m_model->setVolumes(std::move(marks), fallback);
}

void CatalogWindow::fillTree(const std::vector<VolumeState>& volumes) {
    const QSignalBlocker quiet(m_tree);
    m_tree->clear();
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (const VolumeState& v : volumes) {
        auto* item = new QTreeWidgetItem(m_tree);
        item->setText(0, QString::fromStdString(v.volume.label));
        item->setData(0, kSnapshotRole, qint64(0));
        item->setText(
            4, v.online() ? tr("online: %1").arg(QString::fromStdString(DisplayText(v.mountedAt)))
                          : tr("offline"));
        item->setToolTip(0, QString::fromStdString(v.volume.identity));
        for (auto it = v.snapshots.rbegin(); it != v.snapshots.rend(); ++it) {
            const SnapshotRow& s = *it;
            auto* child = new QTreeWidgetItem(item);
            child->setText(0,
                           QStringLiteral("%1@%2").arg(QString::fromStdString(s.label)).arg(s.id));
            child->setData(0, kSnapshotRole, qint64(s.id));
            child->setText(1, whenText(s.started));
            child->setText(2, QLocale().toString(qint64(s.files)));
            child->setText(3, sizeText(s.bytes));
            child->setText(4, v.online() ? tr("online") : tr("offline"));
            child->setToolTip(0, QString::fromStdString(DisplayText(s.rootPath)));
            for (int c = 2; c <= 3; ++c)
                child->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        }
        if (!v.online())
            for (int k = -1; k < item->childCount(); ++k)
                for (int c = 0; c < m_tree->columnCount(); ++c)
                    (k < 0 ? item : item->child(k))->setForeground(c, grey);
        item->setExpanded(true);
    }
}

std::vector<std::int64_t> CatalogWindow::selectedSnapshots() const {
    std::vector<std::int64_t> ids;
    for (const QTreeWidgetItem* item : m_tree->selectedItems()) {
        std::int64_t id = item->data(0, kSnapshotRole).toLongLong();
        if (id == 0 && item->childCount() > 0) // a volume: its latest
            id = item->child(0)->data(0, kSnapshotRole).toLongLong();
        if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

void CatalogWindow::onTreeSelection() {
    const std::vector<std::int64_t> ids = selectedSnapshots();
    if (ids.size() == 1 && ids[0] != m_listed) showSnapshot(ids[0]);
    updateButtons();
}

void CatalogWindow::clearList() {
    // A search still in its query stops at the query's next step; its thread is joined later,
    // not here, where the wait would hold up the window.
    if (m_searchJob) {
        m_searchJob->worker->stop();
        m_oldSearches.push_back(std::move(m_searchJob));
    }
    std::erase_if(m_oldSearches, [](const auto& job) { return job->worker->ended(); });
    m_sorting = false;
    m_disposer.dispose(m_model->takeAllRows());
}

void CatalogWindow::showSnapshot(std::int64_t id) {
    const std::optional<SnapshotRow> s = snapshotRow(id);
    if (!s) return;
    clearList();
    m_listed = id;
    m_listedRoot = QString::fromStdString(DisplayText(s->rootPath));
    int fallback = -1;
    for (std::size_t i = 0; i < m_volumes.size(); ++i)
        if (m_volumes[i].volume.id == s->volume) fallback = int(i);
    std::vector<CatalogListModel::VolumeMark> marks;
    for (const VolumeState& v : m_volumes)
        marks.push_back({QString::fromStdString(v.volume.label), v.online()});
    m_model->setVolumes(std::move(marks), fallback);
    auto holder = std::make_shared<SnapshotSource>();
    try {
        holder->catalog = std::make_unique<Catalog>(m_path.toStdString(), Catalog::Mode::Read);
        const std::optional<VolumeRow> volume = holder->catalog->volume(s->volume);
        if (!volume) throw CatalogError("snapshot " + std::to_string(id) + " has no volume");
        holder->source = std::make_unique<SnapshotTreeSource>(*holder->catalog, *s, *volume);
    } catch (const CatalogError& e) {
        setStatus(QString::fromUtf8(e.what()));
        return;
    }
    ScanOptions options;
    options.rootPath = RootPath::fromBytes(QByteArray::fromStdString(s->rootPath));
    options.browseSubfolders = true;
    // The walk owns the source while it runs: a scan replaced by another ends on its own.
    options.source = [holder](WalkVisitor& visitor, const WalkOptions& walk) {
        LowerThreadPriority();
        holder->source->walk(visitor, walk);
    };
    setStatus(tr("Listing %1@%2...").arg(QString::fromStdString(s->label)).arg(id));
    m_scan->start(std::move(options));
    updateButtons();
}

void CatalogWindow::startSearch() {
    const QString pattern = m_search->text().trimmed();
    if (pattern.isEmpty()) return;
    m_scan->cancel();
    clearList();
    m_listed = 0;
    m_listedRoot.clear();
    {
        const QSignalBlocker quiet(m_tree);
        m_tree->clearSelection();
    }
    std::vector<CatalogListModel::VolumeMark> marks;
    std::unordered_map<std::string, int> indexOf;
    for (const VolumeState& v : m_volumes) {
        indexOf.emplace(v.volume.label, int(marks.size()));
        marks.push_back({QString::fromStdString(v.volume.label), v.online()});
    }
    m_model->setVolumes(std::move(marks), -1);
    SearchOptions options;
    options.pattern = pattern.toStdString();
    options.allSnapshots = m_allSnapshots->isChecked();
    m_searchJob = std::make_unique<SearchJob>();
    SearchJob* job = m_searchJob.get();
    const std::string path = m_path.toStdString();
    job->worker = std::make_unique<BackgroundJob<bool>>(
        [job, path, options, indexOf](const std::atomic<bool>& stop) {
            LowerThreadPriority();
            ListingModel staging;
            staging.setSorted(false);
            std::vector<int> volumes;
            HitRows rows;
            QElapsedTimer clock;
            clock.start();
            qint64 last = -kHandOverMs;
            const auto handOver = [&] {
                if (staging.rowCount() == 0) return;
                SearchJob::Batch batch{staging.takeRows(), std::move(volumes)};
                volumes = {};
                std::lock_guard guard(job->lock);
                job->found += std::int64_t(batch.volumes.size());
                job->pending.push_back(std::move(batch));
            };
            try {
                Catalog catalog(path, Catalog::Mode::Read);
                SearchInBatches(
                    catalog, options, kHitBatch,
                    [&](std::vector<SearchHit>& hits) {
                        for (const SearchHit& h : hits) {
                            rows.add(staging, h);
                            const auto v = indexOf.find(h.volume);
                            volumes.push_back(v == indexOf.end() ? -1 : v->second);
                        }
                        if (clock.elapsed() - last >= kHandOverMs) {
                            handOver();
                            last = clock.elapsed();
                        }
                        return !stop;
                    },
                    &stop);
                handOver();
            } catch (const CatalogError& e) {
                std::lock_guard guard(job->lock);
                job->error = QString::fromUtf8(e.what());
            }
            return true;
        });
    setStatus(tr("Searching for %1...").arg(pattern));
    updateButtons();
}

void CatalogWindow::poll() {
    std::erase_if(m_oldSearches, [](const auto& job) { return job->worker->ended(); });
    pollSearch();
    pollAdd();
    pollCompare();
    if (!isBusy()) m_poll.stop();
    updateButtons();
}

void CatalogWindow::pollSearch() {
    if (!m_searchJob) return;
    const bool ended = m_searchJob->worker->ended();
    std::deque<SearchJob::Batch> batches;
    std::int64_t found = 0;
    QString error;
    {
        std::lock_guard guard(m_searchJob->lock);
        batches.swap(m_searchJob->pending);
        found = m_searchJob->found;
        error = m_searchJob->error;
    }
    for (SearchJob::Batch& b : batches) {
        m_model->appendVolumes(b.volumes);
        m_model->appendRows(std::move(b.rows));
    }
    if (!ended) {
        setStatus(tr("Searching: %1 found").arg(QLocale().toString(qint64(found))));
        return;
    }
    const bool stopped = m_searchJob->worker->stopRequested();
    m_searchJob.reset();
    if (!error.isEmpty())
        setStatus(error);
    else
        setStatus((stopped ? tr("Search stopped: %1 found") : tr("%1 found"))
                      .arg(QLocale().toString(qint64(found))));
    m_sorting = true;
    m_model->sortInBackground();
}

void CatalogWindow::onListColumnClick(int column) {
    if (column >= kListingColumns || m_sorting || isBusy()) return;
    // Sizes, dates and bit rates sort by their hidden key columns.
    if (column == ColSize) column = ColSizeKey;
    if (column == ColDate) column = ColDateKey;
    if (column == ColBitrate) column = ColBitrateKey;
    if (m_model->sortKey() == column)
        m_model->setSortOrder(m_model->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                         : Qt::AscendingOrder);
    else
        m_model->setSortKey(column);
    m_sorting = true;
    m_model->sortInBackground();
    updateButtons();
}

void CatalogWindow::addFolder() {
    if (m_addJob || !m_folderNow) return;
    const QString folder = m_folderNow();
    const RootPath root(folder);
    if (!root.isFolder()) {
        setStatus(tr("%1: not a folder").arg(folder));
        return;
    }
    m_addJob = std::make_unique<AddJob>();
    AddJob* job = m_addJob.get();
    job->folder = root.display();
    const std::string path = m_path.toStdString();
    job->worker = std::make_unique<BackgroundJob<AddJob::Outcome>>(
        [job, path, root](const std::atomic<bool>& stop) {
            LowerThreadPriority();
            AddJob::Outcome outcome;
            AddOptions options;
            options.root = root;
            options.walk.progress = [job, &stop](const WalkProgress& p) {
                std::lock_guard guard(job->lock);
                job->folders = p.folders;
                job->entries = p.entries;
                return !stop;
            };
            try {
                Catalog catalog(path, Catalog::Mode::Write);
                const AddResult r = AddSnapshot(catalog, options);
                outcome.ok = true;
                outcome.text = QObject::tr("Added %1@%2: %3 files, %4 folders, %5")
                                   .arg(QString::fromStdString(r.volume.label))
                                   .arg(r.snapshot.id)
                                   .arg(QLocale().toString(qint64(r.snapshot.files)))
                                   .arg(QLocale().toString(qint64(r.snapshot.folders)))
                                   .arg(sizeText(r.snapshot.bytes));
            } catch (const CatalogError& e) {
                outcome.text = QString::fromUtf8(e.what());
            } catch (const FileError& e) {
                outcome.text = e.message();
            } catch (const Cancelled&) {
                outcome.text = QObject::tr("Adding cancelled: the catalogue is as it was");
            }
            return outcome;
        });
    setStatus(tr("Adding %1...").arg(job->folder));
    updateButtons();
}

void CatalogWindow::pollAdd() {
    if (!m_addJob) return;
    if (!m_addJob->worker->ended()) {
        std::lock_guard guard(m_addJob->lock);
        setStatus(tr("Adding %1: %2 folders, %3 entries")
                      .arg(m_addJob->folder, QLocale().toString(m_addJob->folders),
                           QLocale().toString(m_addJob->entries)));
        return;
    }
    const AddJob::Outcome outcome = m_addJob->worker->take();
    m_addJob.reset();
    reloadVolumes();
    setStatus(outcome.text);
    emit workDone();
}

void CatalogWindow::compare() {
    const std::vector<std::int64_t> ids = selectedSnapshots();
    if (m_compareJob || ids.empty() || ids.size() > 2) return;
    const std::optional<SnapshotRow> a = snapshotRow(ids[0]);
    const std::optional<SnapshotRow> b = ids.size() == 2 ? snapshotRow(ids[1]) : std::nullopt;
    if (!a) return;
    QString folder;
    if (!b) {
        folder = m_folderNow ? m_folderNow() : QString();
        if (folder.isEmpty()) folder = QString::fromStdString(DisplayText(a->rootPath));
    }
    const RootPath root = b ? RootPath() : RootPath(folder);
    if (!b && !root.isFolder()) {
        setStatus(tr("%1: not a folder").arg(folder));
        return;
    }
    m_compareJob = std::make_unique<CompareJob>();
    CompareJob* job = m_compareJob.get();
    const QString nameA = QStringLiteral("%1@%2").arg(QString::fromStdString(a->label)).arg(a->id);
    job->title =
        b ? QStringLiteral("%1 and %2@%3").arg(nameA, QString::fromStdString(b->label)).arg(b->id)
          : QStringLiteral("%1 and %2 now").arg(nameA, root.display());
    const std::string path = m_path.toStdString();
    job->worker = std::make_unique<BackgroundJob<CompareJob::Outcome>>(
        [job, path, from = *a, to = b, root](const std::atomic<bool>& stop) {
            LowerThreadPriority();
            CompareJob::Outcome outcome;
            try {
                Catalog catalog(path, Catalog::Mode::Read);
                DiffResult result;
                if (to) {
                    result = DiffSnapshots(catalog, from, *to);
                } else {
                    DiffOptions options;
                    options.progress = [job, &stop](const WalkProgress& p) {
                        std::lock_guard guard(job->lock);
                        job->entries = p.entries;
                        return !stop;
                    };
                    result = DiffFolder(catalog, from, root, options);
                }
                outcome.folders = ChangesByFolder(result);
                outcome.result = std::make_shared<DiffResult>(std::move(result));
            } catch (const CatalogError& e) {
                outcome.error = QString::fromUtf8(e.what());
            } catch (const FileError& e) {
                outcome.error = e.message();
            } catch (const Cancelled&) {
                outcome.error = QObject::tr("Comparison cancelled");
            }
            return outcome;
        });
    setStatus(tr("Comparing %1...").arg(job->title));
    updateButtons();
}

void CatalogWindow::pollCompare() {
    if (!m_compareJob) return;
    if (!m_compareJob->worker->ended()) {
        std::lock_guard guard(m_compareJob->lock);
        if (m_compareJob->entries > 0)
            setStatus(tr("Comparing %1: %2 entries")
                          .arg(m_compareJob->title, QLocale().toString(m_compareJob->entries)));
        return;
    }
    CompareJob::Outcome outcome = m_compareJob->worker->take();
    const QString title = m_compareJob->title;
    m_compareJob.reset();
    if (!outcome.result) {
        setStatus(outcome.error);
        emit workDone();
        return;
    }
    const DiffCounts n = CountChanges(*outcome.result);
    setStatus(tr("%1: %2 changes").arg(title).arg(n.total()));
    auto* view =
        new CompareView(title, std::move(outcome.result), std::move(outcome.folders), this);
    view->show();
    emit compareOpened(view);
    emit workDone();
}

void CatalogWindow::cancelWork() {
    if (m_searchJob) m_searchJob->worker->stop();
    if (m_addJob) m_addJob->worker->stop();
    if (m_compareJob) m_compareJob->worker->stop();
    if (m_scan->isRunning()) m_scan->cancel();
}

QString CatalogWindow::copyText() const {
    std::vector<int> rows;
    for (const QModelIndex& i : m_list->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    if (rows.empty())
        for (int r = 0; r < m_model->rowCount(); ++r)
            rows.push_back(r);
    QString text;
    for (const int r : rows) {
        const CatalogListModel::VolumeMark* v = m_model->volumeOfRow(r);
        text += (v ? v->label : QString()) + QLatin1Char('\t');
        AppendClipboardLine(text, *m_model, r, m_listedRoot, true);
    }
    return text;
}

void CatalogWindow::copyRows() {
    QApplication::clipboard()->setText(copyText());
}

void CatalogWindow::exportRows() {
    // The snapshot listed, or the one the current search result lies in.
    std::int64_t id = m_listed;
    if (id == 0) {
        const QModelIndex current = m_list->currentIndex();
        const CatalogListModel::VolumeMark* v =
            m_model->volumeOfRow(current.isValid() ? current.row() : 0);
        for (const VolumeState& vs : m_volumes)
            if (v && QString::fromStdString(vs.volume.label) == v->label && !vs.snapshots.empty())
                id = vs.snapshots.back().id;
    }
    const std::optional<SnapshotRow> s = snapshotRow(id);
    if (!s) return;
    int filterIndex = 1;
    const QString target = CurrentDialogs().saveFile(this, ExportFilterText(), tr("Export"),
                                                     QString(), QString(), filterIndex);
    if (target.isEmpty()) return;
    ExportRequest request;
    request.targetPath = target;
    request.format = ExportFormatForFilterIndex(filterIndex);
    request.rootPath = RootPath::fromBytes(QByteArray::fromStdString(s->rootPath));
    request.resourceDir = DefaultResourceDir();
    request.exportTime = QDateTime::fromSecsSinceEpoch(s->started / 1'000'000'000, Qt::UTC);
    if (!FiltersFromJson(s->options, request.options.walk)) {
        CurrentDialogs().reportError(this,
                                     tr("snapshot %1: its options cannot be read").arg(s->id));
        return;
    }
    // Selected rows of a listed snapshot export alone, as in the main window.
    if (m_listed != 0) {
        for (const QModelIndex& i : m_list->selectionModel()->selectedRows()) {
            request.options.selected.add(m_model->rawPath(i.row()));
            request.options.selectedOnly = true;
        }
    }
    SnapshotSource holder;
    try {
        holder.catalog = std::make_unique<Catalog>(m_path.toStdString(), Catalog::Mode::Read);
        const std::optional<VolumeRow> volume = holder.catalog->volume(s->volume);
        if (!volume) throw CatalogError("snapshot " + std::to_string(s->id) + " has no volume");
        holder.source = std::make_unique<SnapshotTreeSource>(*holder.catalog, *s, *volume);
    } catch (const CatalogError& e) {
        CurrentDialogs().reportError(this, QString::fromUtf8(e.what()));
        return;
    }
    request.source = holder.source.get();
    const ExportOutcome outcome = RunExportInBackground(*this, request, [this] {
        return CurrentDialogs().chooseTemplate(this, DefaultResourceDir());
    });
    if (!outcome.failure.isEmpty())
        CurrentDialogs().reportError(this, outcome.failure);
    else if (!outcome.cancelled)
        setStatus(tr("Exported %1@%2 to %3")
                      .arg(QString::fromStdString(s->label))
                      .arg(s->id)
                      .arg(target));
}

} // namespace treelan
