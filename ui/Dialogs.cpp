#include "ui/Dialogs.h"

#include "ui/FolderDialog.h"
#include "ui/SaveDialog.h"
#include "ui/frmStyle.h"

#include <QDesktopServices>
#include <QMessageBox>

namespace treelan {

namespace {

Dialogs g_desktop;
Dialogs* g_current = &g_desktop;

} // namespace

std::unique_ptr<FolderDialog> Dialogs::folderDialog(QWidget* owner) {
    return std::make_unique<FolderDialog>(owner);
}

QString Dialogs::saveFile(QWidget* owner, const QString& filterText, const QString& title,
                          const QString& initialDir, const QString& initialName, int& filterIndex) {
    return ShowFileSaveDialog(owner, filterText, title, initialDir, initialName, filterIndex);
}

QString Dialogs::chooseTemplate(QWidget* owner, const QString& resourceDir) {
    frmStyle dialog(resourceDir, owner);
    dialog.exec();
    return dialog.chosenTemplate();
}

void Dialogs::reportError(QWidget* owner, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Treelan"), message, QMessageBox::Ok,
                    owner);
    box.exec();
}

bool Dialogs::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

Dialogs& CurrentDialogs() {
    return *g_current;
}

Dialogs* SetDialogs(Dialogs* dialogs) {
    Dialogs* previous = g_current;
    g_current = dialogs ? dialogs : &g_desktop;
    return previous;
}

} // namespace treelan
