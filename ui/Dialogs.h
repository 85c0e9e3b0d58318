#pragma once

#include <QString>
#include <QUrl>

#include <memory>

class QWidget;

namespace treelan {

class FolderDialog;

// Every dialog the window opens and every call it makes to the desktop, behind one object.
// The desktop ones are the default; tests install a subclass that answers without a person and
// overrides only what it scripts.
class Dialogs {
public:
    Dialogs() = default;
    virtual ~Dialogs() = default;
    Dialogs(const Dialogs&) = delete;
    Dialogs& operator=(const Dialogs&) = delete;

    // The folder chooser behind the browse button.
    virtual std::unique_ptr<FolderDialog> folderDialog(QWidget* owner);
    // The file to export to: the chosen path, or "" after a cancel. On success `filterIndex` is
    // the 1-based number of the type chosen; after a cancel it is left as it was.
    virtual QString saveFile(QWidget* owner, const QString& filterText, const QString& title,
                             const QString& initialDir, const QString& initialName,
                             int& filterIndex);
    // The template an XML export names: without ".xsl", or "" for none.
    virtual QString chooseTemplate(QWidget* owner, const QString& resourceDir);
    // Tells the user that a command failed.
    virtual void reportError(QWidget* owner, const QString& message);
    // Opens an address in the user's browser; false when that failed.
    virtual bool openUrl(const QUrl& url);
};

// The dialogs in use: the desktop ones unless a test installed others.
Dialogs& CurrentDialogs();
// Installs `dialogs` (not owned; nullptr restores the desktop ones); returns the one before.
Dialogs* SetDialogs(Dialogs* dialogs);

} // namespace treelan
