#pragma once

// Stand-ins for the dialogs of the Export button, so that widget tests run without a person.

#include "listing/ListingModel.h"
#include "ui/Dialogs.h"
#include "ui/ExportCommand.h"
#include "ui/SaveDialog.h"
#include "ui/frmExport.h"
#include "ui/frmStyle.h"

#include <QApplication>
#include <QFile>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QStringList>
#include <QTableView>

// Answers the save dialog with a path and a type index, or cancels with an empty path.
class ScriptedSaveDialog {
public:
    QString answer;
    int answerIndex = 1;
    int calls = 0;
    QString seenFilter, seenTitle, seenDir, seenName;
    bool busyPointer = false; // the hourglass showed while the dialog waited

    QString Show(const QString& filterText, const QString& title, const QString& initialDir,
                 const QString& initialName, int& filterIndex) {
        ++calls;
        seenFilter = filterText;
        seenTitle = title;
        seenDir = initialDir;
        seenName = initialName;
        busyPointer = busyPointer || QApplication::overrideCursor() != nullptr;
        if (!answer.isEmpty()) filterIndex = answerIndex;
        return answer;
    }
};

// Answers the template chooser: a name, or "" for the close box.
class ScriptedChooser {
public:
    QString answer;
    int calls = 0;
    bool busyPointer = false;
    bool owned = false;      // shown with an owner window
    bool realDialog = false; // let the template chooser itself answer

    QString Choose(QWidget* owner, const QString&) {
        ++calls;
        owned = owned || owner != nullptr;
        busyPointer = busyPointer || QApplication::overrideCursor() != nullptr;
        return answer;
    }
};

class RecordingReporter {
public:
    QStringList messages;
    bool busyPointer = false;

    void Report(const QString& message) {
        messages << message;
        busyPointer = busyPointer || QApplication::overrideCursor() != nullptr;
    }
};

// Installs the stand-ins for the lifetime of one test and puts the real ones back.
class ScriptedExport : public treelan::Dialogs {
public:
    ScriptedSaveDialog save;
    ScriptedChooser chooser;
    RecordingReporter reporter;

    ScriptedExport() : m_previous(treelan::SetDialogs(this)) {}
    ~ScriptedExport() override { treelan::SetDialogs(m_previous); }

    QString saveFile(QWidget*, const QString& filterText, const QString& title,
                     const QString& initialDir, const QString& initialName,
                     int& filterIndex) override {
        return save.Show(filterText, title, initialDir, initialName, filterIndex);
    }
    QString chooseTemplate(QWidget* owner, const QString& resourceDir) override {
        if (chooser.realDialog) return Dialogs::chooseTemplate(owner, resourceDir);
        return chooser.Choose(owner, resourceDir);
    }
    void reportError(QWidget*, const QString& message) override { reporter.Report(message); }

    // Clicks Export with the save dialog answering `target` and type `index`.
    void run(treelan::frmExport& window, const QString& target, int index) {
        save.answer = target;
        save.answerIndex = index;
        window.cmdExport_Click();
    }

private:
    treelan::Dialogs* m_previous;
};

inline QByteArray ReadFileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A row's path relative to the root: folder + name, or for a subfolder row its folder text.
inline QString RowPath(const treelan::ListingModel& model, int row) {
    const QString folder = model.text(row, treelan::ColFolder);
    return model.isSubfolderRow(row) ? folder : folder + model.text(row, treelan::ColName);
}

// Selects exactly the rows whose path is listed, through the view as a click would. Returns how
// many rows it found.
inline int SelectRowsByPath(treelan::frmExport& window, const QStringList& paths) {
    const treelan::ListingModel& model = *window.model();
    QItemSelection selection;
    int found = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (!paths.contains(RowPath(model, row))) continue;
        selection.select(model.index(row, 0), model.index(row, 0));
        ++found;
    }
    window.listView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
    return found;
}
