#include "ui/FolderDialog.h"

#include <QFileDialog>

namespace treelan {

bool FolderDialog::Browse() {
    // Folders only, and no typed path: the dialog offers nothing but choosing a folder.
    const QString chosen = QFileDialog::getExistingDirectory(m_parent, prompt, startFolder,
                                                             QFileDialog::ShowDirsOnly |
                                                                 QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty()) return false;
    m_chosen = chosen;
    return true;
}

} // namespace treelan
