#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace treelan {

// The strip at the foot of the list's place: what a scan is doing (with Warnings... and Cancel)
// and the totals of the shown and selected rows.
class FootStrip : public QFrame {
    Q_OBJECT
public:
    explicit FootStrip(QWidget* parent = nullptr);

    QLabel* scanLabel() const { return m_lblScan; }
    QLabel* totalsLabel() const { return m_lblTotals; }
    QPushButton* warningsButton() const { return m_cmdWarnings; }
    QPushButton* cancelButton() const { return m_cmdCancel; }
    // Shows the scan's part when `text` is not empty.
    void setScan(const QString& text, bool cancellable, bool cancelEnabled, bool warnings);
    // Shows the totals' part when `text` is not empty.
    void setTotals(const QString& text);
    // Whether either part has something to say.
    bool hasScan() const;
    bool hasTotals() const;

private:
    QLabel* m_lblScan = nullptr;
    QLabel* m_lblTotals = nullptr;
    QPushButton* m_cmdWarnings = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};

} // namespace treelan
