#include "ui/FootStrip.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace treelan {

FootStrip::FootStrip(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("footStrip"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_lblScan = new QLabel(this);
    m_lblScan->setObjectName(QStringLiteral("lblScan"));
    m_lblScan->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long texts are cut, not the window widened.
    m_lblScan->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_cmdWarnings = new QPushButton(tr("Warnings..."), this);
    m_cmdWarnings->setObjectName(QStringLiteral("cmdWarnings"));
    m_cmdCancel = new QPushButton(tr("Cancel"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_lblTotals = new QLabel(this);
    m_lblTotals->setObjectName(QStringLiteral("lblTotals"));
    m_lblTotals->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblTotals->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_lblTotals->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* bar = new QHBoxLayout(this);
    bar->setContentsMargins(4, 1, 4, 1);
    bar->addWidget(m_lblScan, 1);
    bar->addWidget(m_cmdWarnings);
    bar->addWidget(m_cmdCancel);
    bar->addWidget(m_lblTotals, 1);
    m_lblScan->hide();
    m_cmdWarnings->hide();
    m_cmdCancel->hide();
    m_lblTotals->hide();
}

void FootStrip::setScan(const QString& text, bool cancellable, bool cancelEnabled, bool warnings) {
    m_lblScan->setText(text);
    m_lblScan->setVisible(!text.isEmpty());
    m_cmdCancel->setVisible(cancellable);
    m_cmdCancel->setEnabled(cancelEnabled);
    m_cmdWarnings->setVisible(warnings);
}

void FootStrip::setTotals(const QString& text) {
    m_lblTotals->setText(text);
    m_lblTotals->setVisible(!text.isEmpty());
}

bool FootStrip::hasScan() const {
    return !m_lblScan->text().isEmpty();
}

bool FootStrip::hasTotals() const {
    return !m_lblTotals->text().isEmpty();
}

} // namespace treelan
