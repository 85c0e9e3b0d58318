#include "ui/CompareView.h"

#include "catalog/Text.h"
#include "format/EntryFormat.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace treelan {

using namespace catalog;

namespace {

constexpr int kSliceMs = 10;
constexpr std::size_t kFolderSlice = 2000;

// The kinds as the check boxes offer them; a move and an unsure move share one.
struct KindItem {
    Op op;
    const char* text;
};
constexpr KindItem kKindItems[] = {
    {Op::Added, "+ added"},
    {Op::Removed, "- removed"},
    {Op::Modified, "M modified"},
    {Op::Metadata, "U date only"},
    {Op::Moved, "> moved"},
    {Op::Type, "T type changed"},
    {Op::NotCompared, "! not compared"},
};

std::size_t slotOf(Op op) {
    return std::size_t(op == Op::MovedUnsure ? Op::Moved : op);
}

QString fromRaw(const std::string& raw) {
    return QString::fromStdString(DisplayText(raw));
}

QString sizeText(std::int64_t bytes) {
    QByteArray b;
    AppendSizeText(b, bytes);
    return QString::fromLatin1(b);
}

QString sideText(const Side& s, std::int64_t resolution) {
    if (!s.present) return {};
    if (s.kind == Kind::Folder) return QObject::tr("folder");
    if (s.kind == Kind::Unexamined) return QObject::tr("not examined");
    return sizeText(s.size) + QStringLiteral(", ") +
           QString::fromStdString(IsoTime(s.mtime, resolution));
}

QString sideRaw(const Side& s, std::int64_t resolution) {
    if (!s.present || s.kind == Kind::Folder || s.kind == Kind::Unexamined) return {};
    return QString::number(s.size) + QLatin1Char(' ') +
           QString::fromStdString(IsoTime(s.mtime, resolution));
}

QString plural(std::int64_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

ChangeListModel::ChangeListModel(QObject* parent)
    : QAbstractTableModel(parent), m_result(std::make_shared<DiffResult>()) {
    m_shown.fill(true);
}

int ChangeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ChangeListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ChangeListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Change& c = change(index.row());
    const std::int64_t res = m_result->resolution;
    const bool moved = c.op == Op::Moved || c.op == Op::MovedUnsure;
    if (role == RawRole) {
        switch (index.column()) {
        case ColKind:
            return QString::fromLatin1(OpSymbol(c.op));
        case ColPath:
            return QByteArray::fromStdString(c.path);
        case ColOld:
            return moved ? QVariant(QByteArray::fromStdString(c.movedFrom))
                         : QVariant(sideRaw(c.before, res));
        case ColNew:
            return sideRaw(c.after, res);
        default:
            return {};
        }
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
    case ColKind:
        return QString::fromLatin1(OpSymbol(c.op));
    case ColPath:
        return fromRaw(c.path);
    case ColOld:
        if (moved) return tr("from %1").arg(fromRaw(c.movedFrom));
        if (c.op == Op::Type) return QString::fromLatin1(KindName(c.before.kind));
        return sideText(c.before, res);
    case ColNew:
        if (c.op == Op::NotCompared) return QString::fromStdString(c.note);
        if (c.op == Op::Type) return QString::fromLatin1(KindName(c.after.kind));
        if (!c.note.empty())
            return sideText(c.after, res) +
                   QStringLiteral(" (%1)").arg(QString::fromStdString(c.note));
        return sideText(c.after, res);
    default:
        return {};
    }
}

QVariant ChangeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case ColKind:
        return tr("Kind");
    case ColPath:
        return tr("Path");
    case ColOld:
        return tr("Old");
    case ColNew:
        return tr("New");
    default:
        return {};
    }
}

void ChangeListModel::setResult(std::shared_ptr<const DiffResult> result) {
    beginResetModel();
    m_result = std::move(result);
    m_rows.clear();
    m_next = 0;
    endResetModel();
}

bool ChangeListModel::kindShown(Op op) const {
    return m_shown[slotOf(op)];
}

void ChangeListModel::setKindShown(Op op, bool shown) {
    if (m_shown[slotOf(op)] == shown) return;
    m_shown[slotOf(op)] = shown;
    // Rebuilt from the changes looked at so far; the rest come in their slices.
    beginResetModel();
    m_rows.clear();
    for (std::size_t i = 0; i < m_next; ++i)
        if (m_shown[slotOf(m_result->changes[i].op)]) m_rows.push_back(i);
    endResetModel();
}

bool ChangeListModel::addSlice() {
    const std::size_t end = std::min(m_result->changes.size(), m_next + kSlice);
    std::vector<std::size_t> add;
    for (; m_next < end; ++m_next)
        if (m_shown[slotOf(m_result->changes[m_next].op)]) add.push_back(m_next);
    if (!add.empty()) {
        beginInsertRows({}, rowCount(), rowCount() + int(add.size()) - 1);
        m_rows.insert(m_rows.end(), add.begin(), add.end());
        endInsertRows();
    }
    return !complete();
}

QString FolderChangesText(const FolderChanges& f) {
    QStringList parts;
    const DiffCounts& n = f.counts;
    if (f.addedFiles) parts << QLatin1Char('+') + plural(f.addedFiles, "file", "files");
    if (n.added > f.addedFiles)
        parts << QLatin1Char('+') + plural(n.added - f.addedFiles, "folder", "folders");
    if (f.removedFiles) parts << QLatin1Char('-') + plural(f.removedFiles, "file", "files");
    if (n.removed > f.removedFiles)
        parts << QLatin1Char('-') + plural(n.removed - f.removedFiles, "folder", "folders");
    if (n.modified) parts << QString::number(n.modified) + QStringLiteral(" modified");
    if (n.metadata) parts << QString::number(n.metadata) + QStringLiteral(" date only");
    if (n.moved) parts << QString::number(n.moved) + QStringLiteral(" moved");
    if (n.type) parts << QString::number(n.type) + QStringLiteral(" type changed");
    if (n.notCompared) parts << QString::number(n.notCompared) + QStringLiteral(" not compared");
    if (f.bytes != 0)
        parts << (f.bytes > 0 ? QLatin1Char('+') : QLatin1Char('-')) +
                     sizeText(f.bytes > 0 ? f.bytes : -f.bytes);
    return parts.join(QStringLiteral(", "));
}

CompareView::CompareView(const QString& title, std::shared_ptr<const DiffResult> result,
                         std::vector<FolderChanges> folders, QWidget* parent)
    : QWidget(parent, Qt::Window), m_result(std::move(result)),
      m_folderChanges(std::move(folders)) {
    setObjectName(QStringLiteral("compareView"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(tr("Compare: %1").arg(title));
    auto* layout = new QVBoxLayout(this);
    auto* kinds = new QHBoxLayout;
    const DiffCounts counts = CountChanges(*m_result);
    const std::int64_t perKind[] = {counts.added,      counts.removed, counts.modified,
                                    counts.metadata,   counts.moved,   counts.type,
                                    counts.notCompared};
    m_model = new ChangeListModel(this);
    for (std::size_t i = 0; i < std::size(kKindItems); ++i) {
        auto* box = new QCheckBox(
            QStringLiteral("%1 (%2)").arg(tr(kKindItems[i].text)).arg(perKind[i]), this);
        box->setObjectName(QStringLiteral("kind%1").arg(i));
        box->setChecked(true);
        const Op op = kKindItems[i].op;
        connect(box, &QCheckBox::toggled, this,
                [this, op](bool on) { m_model->setKindShown(op, on); });
        kinds->addWidget(box);
        m_kinds.emplace_back(op, box);
    }
    kinds->addStretch();
    layout->addLayout(kinds);

    auto* split = new QSplitter(Qt::Vertical, this);
    m_view = new QTableView(split);
    m_view->setObjectName(QStringLiteral("changeList"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(ChangeListModel::ColKind, 40);
    m_view->setColumnWidth(ChangeListModel::ColPath, 320);
    m_view->setColumnWidth(ChangeListModel::ColOld, 300);
    m_folders = new QTreeWidget(split);
    m_folders->setObjectName(QStringLiteral("folderCounts"));
    m_folders->setRootIsDecorated(false);
    m_folders->setHeaderLabels({tr("Folder"), tr("Changes in it")});
    m_folders->setColumnWidth(0, 320);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setText(tr("%1 changes: %2 added, %3 removed, %4 modified, %5 date only, %6 "
                          "moved, %7 type changed, %8 not compared")
                           .arg(counts.total())
                           .arg(counts.added)
                           .arg(counts.removed)
                           .arg(counts.modified)
                           .arg(counts.metadata)
                           .arg(counts.moved)
                           .arg(counts.type)
                           .arg(counts.notCompared));
    layout->addWidget(m_summary);
    resize(900, 600);

    m_model->setResult(m_result);
    m_slices.setInterval(kSliceMs);
    connect(&m_slices, &QTimer::timeout, this, &CompareView::addSlice);
    m_slices.start();
    addSlice();
}

QCheckBox* CompareView::kindBox(Op op) const {
    for (const auto& [kind, box] : m_kinds)
        if (slotOf(kind) == slotOf(op)) return box;
    return nullptr;
}

QString CompareView::summaryText() const {
    return m_summary->text();
}

void CompareView::addSlice() {
    // The folders' lines in slices too: a tree of items costs the window's thread per item.
    std::size_t end = std::min(m_folderChanges.size(), m_nextFolder + kFolderSlice);
    QList<QTreeWidgetItem*> items;
    for (; m_nextFolder < end; ++m_nextFolder) {
        const FolderChanges& f = m_folderChanges[m_nextFolder];
        auto* item = new QTreeWidgetItem;
        item->setText(0, f.folder.empty() ? QStringLiteral("/") : fromRaw(f.folder));
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(f.folder));
        item->setText(1, FolderChangesText(f));
        items << item;
    }
    if (!items.isEmpty()) m_folders->addTopLevelItems(items);
    const bool foldersLeft = m_nextFolder < m_folderChanges.size();
    if (m_model->addSlice() || foldersLeft) return;
    if (!m_slices.isActive()) return;
    m_slices.stop();
    emit complete();
}

} // namespace treelan
