#include "ui/SaveDialog.h"

#include "ui/Dialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include <algorithm>

namespace treelan {

QList<SaveFilterPair> ParseSaveFilter(const QString& filterText) {
    QString text = filterText;
    if (!text.endsWith(u'|')) text += u'|';
    // Every part is closed by "|", so the last element of the split is the empty rest.
    const QStringList parts = text.split(u'|');
    QList<SaveFilterPair> pairs;
    for (qsizetype i = 0; i + 2 < parts.size(); i += 2)
        pairs.append({parts[i], parts[i + 1]});
    return pairs;
}

QStringList QtNameFilters(const QList<SaveFilterPair>& pairs) {
    QStringList filters;
    for (const SaveFilterPair& pair : pairs) {
        // Qt separates patterns with blanks where the filter text uses ";".
        QStringList patterns = pair.pattern.split(u';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        const QString qtPatterns = patterns.isEmpty() ? QStringLiteral("*") : patterns.join(u' ');
        QString description = pair.description;
        // "Web Archive (*.mht)" already shows its pattern; Qt reads the last parenthesised group.
        for (const QString& tail : {u'(' + pair.pattern + u')', u'(' + qtPatterns + u')'}) {
            if (description.endsWith(tail)) {
                description.chop(tail.size());
                break;
            }
        }
        description = description.trimmed();
        filters.append(description.isEmpty()
                           ? u'(' + qtPatterns + u')'
                           : description + QStringLiteral(" (") + qtPatterns + u')');
    }
    return filters;
}

QString ExtensionForPattern(const QString& pattern, const QString& fallback) {
    const QStringList patterns =
        pattern.split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts);
    for (const QString& p : patterns) {
        if (!p.startsWith(u"*.")) continue;
        const QString extension = p.mid(2);
        if (!extension.isEmpty() &&
            !extension.contains(QRegularExpression(QStringLiteral("[*?\\[\\]]"))))
            return extension;
    }
    return fallback;
}

namespace {

// Asks before replacing an existing file and before creating one that does not exist; the
// extension that a bare name gets follows the file type selected when the user confirms.
class SaveFileDialog : public QFileDialog {
public:
    SaveFileDialog(QWidget* owner, const QList<SaveFilterPair>& pairs)
        : QFileDialog(owner), m_pairs(pairs) {
        setObjectName(QStringLiteral("SaveFileDialog"));
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        // The prompts are ours, so the non-native dialog is the one that shows them.
        setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
        if (!m_pairs.isEmpty()) setNameFilters(QtNameFilters(m_pairs));
        setDefaultSuffix(QStringLiteral("mht"));
    }

    // 0-based; the type combo box tells entries with equal texts apart, the filter text may not.
    int currentPair() const {
        if (m_pairs.isEmpty()) return -1;
        if (const auto* combo = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            combo && combo->count() == m_pairs.size() && combo->currentIndex() >= 0)
            return combo->currentIndex();
        return std::max(0, static_cast<int>(nameFilters().indexOf(selectedNameFilter())));
    }

    void accept() override {
        const int pair = currentPair();
        setDefaultSuffix(ExtensionForPattern(pair >= 0 ? m_pairs[pair].pattern : QString()));
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo info(files.first());
            // A folder is entered by the base class, not chosen.
            if (!info.isDir()) {
                const QString question = info.exists()
                                             ? tr("%1 already exists.\nDo you want to replace it?")
                                             : tr("%1 does not exist.\nDo you want to create it?");
                if (QMessageBox::question(this, windowTitle(), question.arg(info.fileName()),
                                          QMessageBox::Yes | QMessageBox::No,
                                          QMessageBox::No) != QMessageBox::Yes)
                    return;
            }
        }
        QFileDialog::accept();
    }

private:
    QList<SaveFilterPair> m_pairs;
};

} // namespace

QString ShowFileSaveDialog(QWidget* owner, const QString& filterText, const QString& title,
                           const QString& initialDir, const QString& initialName,
                           int& filterIndex) {
    SaveFileDialog dialog(owner, ParseSaveFilter(filterText));
    dialog.setWindowTitle(title);
    if (!initialDir.isEmpty()) dialog.setDirectory(initialDir);
    if (!initialName.isEmpty()) dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return {};
    filterIndex = dialog.currentPair() + 1;
    return files.first();
}

QString ShowSaveDialog(QWidget* owner, const QString& filterText, const QString& title,
                       const QString& initialDir, const QString& initialName, int& filterIndex) {
    return CurrentDialogs().saveFile(owner, filterText, title, initialDir, initialName,
                                     filterIndex);
}

} // namespace treelan
