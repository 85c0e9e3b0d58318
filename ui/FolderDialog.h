#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

namespace treelan {

// The folder chooser behind the browse button: the caller sets the prompt and the start folder,
// Browse() asks the user, and after a true result chosenPath() is the chosen folder's full path.
// Tests replace it by a subclass that answers without a person.
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

using FolderDialogFactory = std::function<std::unique_ptr<FolderDialog>(QWidget* parent)>;
// Opens an address in the user's browser; failures are ignored by the caller.
using UrlOpener = std::function<bool(const QUrl&)>;

UrlOpener DefaultUrlOpener();

} // namespace treelan
