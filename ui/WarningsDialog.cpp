#include "ui/WarningsDialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace treelan {

QString WarningsDialog::Text(const std::vector<Warning>& warnings) {
    QString text;
    for (const Warning& w : warnings)
        text += w.path + QLatin1Char('\t') + w.reason + QLatin1Char('\n');
    return text;
}

WarningsDialog::WarningsDialog(const std::vector<Warning>& warnings, QWidget* owner)
    : QDialog(owner), m_text(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("frmWarnings"));
    setWindowTitle(tr("Entries that could not be read"));
    m_text->setObjectName(QStringLiteral("txtWarnings"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setPlainText(Text(warnings));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("Copy all"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("cmdCopyWarnings"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_text->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(640, 320);
}

} // namespace treelan
