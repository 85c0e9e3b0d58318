#pragma once

#include <QtGlobal>

namespace treelan {

// FILETIME: 100 ns units since 1601-01-01 UTC, the times every listing and export carries.

// From the system's seconds and nanoseconds since 1970, clamped to 0 .. 2^63-1 (years 1601 to
// 30828).
qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds);
// Whole seconds since 1970-01-01 UTC, rounded down.
qint64 UnixSecondsFromFileTime(qint64 fileTime);

} // namespace treelan
