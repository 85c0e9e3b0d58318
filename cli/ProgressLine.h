#pragma once

#include "platform/DirWalker.h"
#include "platform/FileDescriptor.h"

#include <QTextStream>

namespace treelan {

// Standard error, where every message of treelan-cli goes.
inline QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

// A progress line that rewrites itself; only when `enabled` and standard error is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled && StandardErrorIsTerminal()) {}
    ~ProgressLine() { clear(); }
    bool update(const WalkProgress& p) {
        if (!m_enabled || (p.folders % 64) != 1) return true;
        err() << "\r\033[K" << p.folders << " folders, " << p.entries << " entries";
        err().flush();
        m_shown = true;
        return true;
    }
    void clear() {
        if (!m_shown) return;
        err() << "\r\033[K";
        err().flush();
        m_shown = false;
    }

private:
    bool m_enabled;
    bool m_shown = false;
};

} // namespace treelan
