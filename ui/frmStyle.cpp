#include "ui/frmStyle.h"

#include "settings/StringTable.h"
#include "ui/Dialogs.h"
#include "ui/LocalizeForm.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cmath>

namespace treelan {

namespace {

const QString kTemplateEnding = QStringLiteral(".xsl");

// The design is in twips; 1440 make an inch at the widget's logical DPI.
QRect twipsRect(const QWidget* widget, int left, int top, int width, int height) {
    const double x = widget->logicalDpiX() / 1440.0;
    const double y = widget->logicalDpiY() / 1440.0;
    const auto px = [](double value) { return static_cast<int>(std::lround(value)); };
    return QRect(px(left * x), px(top * y), px((left + width) * x) - px(left * x),
                 px((top + height) * y) - px(top * y));
}

} // namespace

QStringList TemplateNames(const QString& folder) {
    // The stylesheet line names "<name>.xsl", so only files with that exact ending can be
    // named: "Tree.XSL" would become a reference to "Tree.XSL.xsl", and removing every ".xsl"
    // would turn "a.xsl.xsl" into a reference to "a.xsl", another file.
    if (folder.isEmpty()) return {}; // QDir would read the working folder
    const QDir dir(folder);
    const QStringList files =
        dir.entryList({u'*' + kTemplateEnding}, QDir::Files | QDir::Hidden | QDir::CaseSensitive,
                      QDir::Name | QDir::IgnoreCase);
    QStringList names;
    for (const QString& file : files) {
        if (!file.endsWith(kTemplateEnding) || file.size() == kTemplateEnding.size()) continue;
        // A name that does not decode losslessly cannot be found again by its text.
        if (!QFileInfo::exists(dir.filePath(file))) continue;
        names.append(file.chopped(kTemplateEnding.size()));
    }
    return names;
}

frmStyle::frmStyle(const QString& resourceDir, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmStyle"));
    setProperty("tag", KeyText(Str::ChooseTemplate));
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSizeF(8.25);
    setFont(tahoma);
    setFixedSize(twipsRect(this, 0, 0, 3825, 2010).size());

    cmbSchema = new QComboBox(this);
    cmbSchema->setObjectName(QStringLiteral("cmbSchema"));
    cmbSchema->setEditable(true);
    // Typed text plays no part: it must not become an entry.
    cmbSchema->setInsertPolicy(QComboBox::NoInsert);
    cmbSchema->setEditText(QStringLiteral("Combo1"));
    cmbSchema->setGeometry(twipsRect(this, 180, 180, 2235, 315));

    cmdStyle = new QPushButton(QStringLiteral("Ok"), this);
    cmdStyle->setObjectName(QStringLiteral("cmdStyle"));
    cmdStyle->setProperty("tag", KeyText(Str::Ok));
    cmdStyle->setGeometry(twipsRect(this, 2640, 180, 975, 315));

    txtCaution = new QPlainTextEdit(QStringLiteral("Text1"), this);
    txtCaution->setObjectName(QStringLiteral("txtCaution"));
    txtCaution->setProperty("tag", KeyText(Str::CopyNote));
    txtCaution->setGeometry(twipsRect(this, 180, 900, 3375, 915));
    QPalette palette = txtCaution->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    txtCaution->setPalette(palette);

    lblCaution = new QLabel(QStringLiteral("Label1"), this);
    lblCaution->setObjectName(QStringLiteral("lblCaution"));
    lblCaution->setProperty("tag", KeyText(Str::Caution));
    lblCaution->setGeometry(twipsRect(this, 180, 660, 555, 195));
    QFont bold = lblCaution->font();
    bold.setBold(true);
    lblCaution->setFont(bold);

    setTabOrder(cmbSchema, cmdStyle);
    setTabOrder(cmdStyle, txtCaution);

    LocalizeForm(this);
    lblCaution->adjustSize();

    QString folder = QDir::toNativeSeparators(QDir::cleanPath(resourceDir));
    txtCaution->setPlainText(txtCaution->toPlainText() + u' ' + folder);

    cmbSchema->addItems(TemplateNames(resourceDir));
    if (cmbSchema->count() > 0)
        cmbSchema->setCurrentIndex(0);
    else
        cmbSchema->setEditText(QString()); // no design text where no template is

    connect(cmdStyle, &QPushButton::clicked, this, &frmStyle::cmdStyle_Click);
}

void frmStyle::cmdStyle_Click() {
    const int index = cmbSchema->currentIndex();
    m_chosenTemplate = index >= 0 ? cmbSchema->itemText(index) : QString();
    accept();
}

QString ChooseTemplate(QWidget* owner, const QString& resourceDir) {
    return CurrentDialogs().chooseTemplate(owner, resourceDir);
}

} // namespace treelan
