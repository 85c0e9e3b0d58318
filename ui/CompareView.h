#pragma once

#include "catalog/Browse.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QTableView;
class QTreeWidget;

namespace treelan {

// The changes of a comparison as a table: kind, path, old, new. Rows of the kinds shown, in path
// order; they come in slices, so a long list never holds up the window.
class ChangeListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColKind, ColPath, ColOld, ColNew, kColumns };
    // Raw path bytes (ColPath), a moved entry's old path (ColOld), "SIZE ISO-TIME" of a side.
    static constexpr int RawRole = Qt::UserRole;
    static constexpr std::size_t kSlice = 20000;

    explicit ChangeListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setResult(std::shared_ptr<const catalog::DiffResult> result);
    // Shows only changes whose kind is ticked (moves and unsure moves go together).
    void setKindShown(catalog::Op op, bool shown);
    bool kindShown(catalog::Op op) const;
    // Adds the next slice of rows; false once every row is in.
    bool addSlice();
    bool complete() const { return m_next >= m_result->changes.size(); }
    const catalog::Change& change(int row) const {
        return m_result->changes[m_rows[std::size_t(row)]];
    }

private:
    std::shared_ptr<const catalog::DiffResult> m_result;
    std::vector<std::size_t> m_rows; // indexes of the changes shown
    std::size_t m_next = 0;          // the changes looked at so far
    std::array<bool, 8> m_shown{};
};

// "+3 files, -1 file, 2 modified, +12 288 kB": what changed directly in one folder.
QString FolderChangesText(const catalog::FolderChanges& folder);

// A comparison in a window of its own: the change list, check boxes for the kinds it shows and
// the counts per folder.
class CompareView : public QWidget {
    Q_OBJECT
public:
    // `title` names the two sides; `folders` are the result's changes per folder
    // (catalog::ChangesByFolder, worked out where the comparison ran).
    CompareView(const QString& title, std::shared_ptr<const catalog::DiffResult> result,
                std::vector<catalog::FolderChanges> folders, QWidget* parent = nullptr);

    ChangeListModel* changes() const { return m_model; }
    QTableView* changeView() const { return m_view; }
    QTreeWidget* folderList() const { return m_folders; }
    QCheckBox* kindBox(catalog::Op op) const;
    QString summaryText() const;
    // Every change of the shown kinds and every folder's line is in the lists.
    bool isComplete() const {
        return m_model->complete() && m_nextFolder >= m_folderChanges.size();
    }

signals:
    void complete();

private:
    void addSlice();

    std::shared_ptr<const catalog::DiffResult> m_result;
    std::vector<catalog::FolderChanges> m_folderChanges;
    std::size_t m_nextFolder = 0; // the folders listed so far
    ChangeListModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QTreeWidget* m_folders = nullptr;
    QLabel* m_summary = nullptr;
    std::vector<std::pair<catalog::Op, QCheckBox*>> m_kinds;
    QTimer m_slices;
};

} // namespace treelan
