#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;

namespace treelan {

// The strip at the top of the list's place that narrows the shown rows by name: one line of
// pattern and what it found. Shown while it holds text or the focus, or always when asked.
class FilterStrip : public QFrame {
    Q_OBJECT
public:
    explicit FilterStrip(QWidget* parent = nullptr);

    QLineEdit* box() const { return m_box; }
    QString text() const;
    // Puts the caret in the box, its text selected, and shows the strip.
    void focusBox();
    // Empties the box (filterChanged follows when it held text).
    void clear();
    // Whether the strip is wanted now: text, focus, or shown always.
    bool wanted() const;
    void setAlwaysShown(bool always);
    // What the filter found: "12 of 3 456 rows"; empty while none holds.
    void setFound(const QString& text);

signals:
    // The pattern changed, by typing or by clearing.
    void filterChanged(const QString& pattern);
    // Whether the strip is wanted changed (focus came or went, text emptied).
    void wantedChanged();
    // Esc in an empty box, or the Down key: the list takes the focus.
    void leaveToList();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QLineEdit* m_box = nullptr;
    QLabel* m_found = nullptr;
    bool m_always = false;
};

} // namespace treelan
