#pragma once

#include <QApplication>

namespace treelan {

// The hourglass for the lifetime of a command. lift() takes it away while a dialog waits for the
// user or an error is reported, set() puts it back.
class WaitCursor {
public:
    WaitCursor() { set(); }
    ~WaitCursor() { lift(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void set() {
        if (m_set) return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_set = true;
    }
    void lift() {
        if (!m_set) return;
        QApplication::restoreOverrideCursor();
        m_set = false;
    }

private:
    bool m_set = false;
};

} // namespace treelan
