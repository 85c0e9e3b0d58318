#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace treelan {

// The template names offered for the files of `folder`: each "*.xsl" file, in name order, as
// the name that the document's stylesheet line completes with ".xsl" to that very file.
QStringList TemplateNames(const QString& folder);

// The template chooser: lists the XSLT templates of the Resource folder and warns that they
// must be copied beside the exported file. Ok gives the selected name, the close box nothing.
class frmStyle : public QDialog {
    Q_OBJECT

public:
    explicit frmStyle(const QString& resourceDir, QWidget* owner = nullptr);

    // The name chosen with Ok, without ".xsl"; empty until then, and after a close.
    QString chosenTemplate() const { return m_chosenTemplate; }

private:
    void cmdStyle_Click();

    QComboBox* cmbSchema;
    QPushButton* cmdStyle;
    QPlainTextEdit* txtCaution;
    QLabel* lblCaution;
    QString m_chosenTemplate;
};

// Asks the dialogs in use (CurrentDialogs) which template the export names. Returns the name
// without ".xsl", or "" for none.
QString ChooseTemplate(QWidget* owner, const QString& resourceDir);

} // namespace treelan
