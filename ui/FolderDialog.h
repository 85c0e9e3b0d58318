#pragma once

#include <QString>

class QWidget;

namespace treelan {

// The folder chooser behind the browse button: the caller sets the prompt and the start folder,
// Browse() asks the user, and after a true result chosenPath() is the chosen folder's full path.
// Tests replace it through Dialogs::folderDialog by a subclass that answers without a person.
class FolderDialog {
public:
    explicit FolderDialog(QWidget* parent = nullptr) : m_parent(parent) {}
    virtual ~FolderDialog() = default;
    FolderDialog(const FolderDialog&) = delete;
    FolderDialog& operator=(const FolderDialog&) = delete;

    QString prompt;
    QString startFolder;

    // True when a folder was chosen and confirmed, false when the dialog was cancelled.
    virtual bool Browse();
    QString chosenPath() const { return m_chosen; }

protected:
    QWidget* m_parent;
    QString m_chosen;
};

} // namespace treelan
