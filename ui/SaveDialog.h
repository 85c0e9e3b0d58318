#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace treelan {

// One entry of the save dialog's file-type list.
struct SaveFilterPair {
    QString description; // e.g. "Web Archive (*.mht)"
    QString pattern;     // e.g. "*.mht"; several patterns are separated by ";"

    bool operator==(const SaveFilterPair&) const = default;
};

// The filter text is "description|pattern|" repeated; the last "|" may be left off. A trailing
// description without its pattern is dropped.
QList<SaveFilterPair> ParseSaveFilter(const QString& filterText);

// Qt name filters, "description (patterns)". A description that already ends in its own
// parenthesised patterns is used as it is, so the list does not show them twice.
QStringList QtNameFilters(const QList<SaveFilterPair>& pairs);

// The extension that a name typed without one gets under `pattern`: the first "*.ext" of the
// pattern, or `fallback` when the pattern names no single extension (such as "*" or "*.*").
QString ExtensionForPattern(const QString& pattern,
                            const QString& fallback = QStringLiteral("mht"));

// The interactive dialog: a QFileDialog that asks before replacing an existing file and before
// creating a new one. Returns the chosen path, or "" when the user cancelled; on success
// `filterIndex` gets the 1-based number of the filter pair selected at the time, after a cancel
// it is left as it was.
QString ShowFileSaveDialog(QWidget* owner, const QString& filterText, const QString& title,
                           const QString& initialDir, const QString& initialName, int& filterIndex);

// Asks through the dialogs in use (CurrentDialogs), with the same contract.
QString ShowSaveDialog(QWidget* owner, const QString& filterText, const QString& title,
                       const QString& initialDir, const QString& initialName, int& filterIndex);

} // namespace treelan
