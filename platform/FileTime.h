#pragma once

#include <QtGlobal>

#include <limits>

namespace treelan {

// FILETIME: 100 ns units since 1601-01-01 UTC, the times every listing and export carries.
constexpr qint64 kFileTimeUnitsPerSecond = 10'000'000;
constexpr qint64 kSecondsFrom1601To1970 = 11'644'473'600;

// From the system's seconds and nanoseconds since 1970, clamped to 0 .. 2^63-1 (years 1601 to
// 30828): file systems such as tmpfs and btrfs keep times that a FILETIME cannot hold.
constexpr qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds) {
    constexpr qint64 kLast = std::numeric_limits<qint64>::max();
    if (seconds < -kSecondsFrom1601To1970) return 0;
    if (seconds >= kLast / kFileTimeUnitsPerSecond - kSecondsFrom1601To1970) return kLast;
    return (seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond +
           qBound<qint64>(0, nanoseconds, kFileTimeUnitsPerSecond - 1) / 100;
}

// Whole seconds since 1970-01-01 UTC, rounded down.
constexpr qint64 UnixSecondsFromFileTime(qint64 fileTime) {
    const qint64 down = fileTime % kFileTimeUnitsPerSecond < 0 ? 1 : 0;
    return fileTime / kFileTimeUnitsPerSecond - down - kSecondsFrom1601To1970;
}

} // namespace treelan
