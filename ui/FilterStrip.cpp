#include "ui/FilterStrip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace treelan {

FilterStrip::FilterStrip(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("filterStrip"));
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    m_box = new QLineEdit(this);
    m_box->setObjectName(QStringLiteral("filterBox"));
    m_box->setClearButtonEnabled(true);
    m_box->setPlaceholderText(tr("Filter: part of a name, *.mp3, f: files, d: folders"));
    m_box->setToolTip(tr("Shows only the rows whose name matches (Ctrl+F; Esc shows all again). "
                         "Copy and Export leave out the rows the filter hides."));
    m_box->installEventFilter(this);
    m_found = new QLabel(this);
    m_found->setObjectName(QStringLiteral("lblFound"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 4, 1);
    row->addWidget(m_box, 1);
    row->addWidget(m_found);
    connect(m_box, &QLineEdit::textChanged, this, [this](const QString& text) {
        emit filterChanged(text);
        if (text.isEmpty()) emit wantedChanged();
    });
}

QString FilterStrip::text() const {
    return m_box->text();
}

void FilterStrip::focusBox() {
    show();
    m_box->setFocus(Qt::ShortcutFocusReason);
    m_box->selectAll();
    emit wantedChanged();
}

void FilterStrip::clear() {
    m_box->clear();
}

bool FilterStrip::wanted() const {
    return m_always || !m_box->text().isEmpty() || m_box->hasFocus();
}

void FilterStrip::setAlwaysShown(bool always) {
    m_always = always;
    emit wantedChanged();
}

void FilterStrip::setFound(const QString& text) {
    m_found->setText(text);
}

bool FilterStrip::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_box) {
        if (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut) emit wantedChanged();
        if (e->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(e);
            if (key->key() == Qt::Key_Escape) {
                // The first Esc shows every row again, the next one goes back to the list.
                if (m_box->text().isEmpty())
                    emit leaveToList();
                else
                    m_box->clear();
                return true;
            }
            if (key->key() == Qt::Key_Down) {
                emit leaveToList();
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, e);
}

} // namespace treelan
