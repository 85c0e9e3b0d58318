#pragma once

#include "ui/frmExport.h"

#include <QTest>

// A refresh runs in the background: waits, serving events, until the window's scan has ended.
inline bool WaitForScan(treelan::frmExport& window, int timeoutMs = 60000) {
    return QTest::qWaitFor([&] { return !window.isScanning(); }, timeoutMs);
}
