#include "platform/FileTime.h"

#include <limits>

namespace treelan {

namespace {
constexpr qint64 kUnitsPerSecond = 10'000'000;
constexpr qint64 kSecondsFrom1601To1970 = 11'644'473'600;
} // namespace

qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds) {
    // File systems such as tmpfs and btrfs keep times before 1601 and after 30828, which a FILETIME
    // cannot hold: they are clamped to its ends rather than overflowed.
    constexpr qint64 kLast = std::numeric_limits<qint64>::max();
    if (seconds < -kSecondsFrom1601To1970) return 0;
    if (seconds >= kLast / kUnitsPerSecond - kSecondsFrom1601To1970) return kLast;
    return (seconds + kSecondsFrom1601To1970) * kUnitsPerSecond +
           qBound<qint64>(0, nanoseconds, kUnitsPerSecond - 1) / 100;
}

qint64 UnixSecondsFromFileTime(qint64 fileTime) {
    qint64 seconds = fileTime / kUnitsPerSecond;
    if (fileTime % kUnitsPerSecond < 0) --seconds;
    return seconds - kSecondsFrom1601To1970;
}

} // namespace treelan
