#pragma once

#include "listing/ListingScan.h"

#include <QDialog>

#include <vector>

class QPlainTextEdit;

namespace treelan {

// Lists the entries a scan or an export could not read, one "path<TAB>reason" line each, in a
// read-only text the user can select and copy; "Copy all" puts every line on the clipboard.
class WarningsDialog : public QDialog {
    Q_OBJECT
public:
    explicit WarningsDialog(const std::vector<Warning>& warnings, QWidget* owner = nullptr);

    // The lines as shown and copied.
    static QString Text(const std::vector<Warning>& warnings);

private:
    QPlainTextEdit* m_text;
};

} // namespace treelan
