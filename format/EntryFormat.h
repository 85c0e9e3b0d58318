#pragma once

#include "platform/FileTime.h"

#include <QByteArray>
#include <QString>

namespace treelan {

// Decimal digits of `value`, left-padded with "0" to at least `width` characters.
void AppendDecimal(QByteArray& out, quint64 value, int width = 1);

// Sums of byte counts: 128 bits, which no tree of 64-bit file sizes can overflow.
__extension__ typedef unsigned __int128 ByteTotal;
// The exact decimal digits of a byte sum.
void AppendByteTotal(QByteArray& out, ByteTotal value);

// "# ##0 kB" of bytes / 1024, rounded half away from zero, as the listing shows it: the pattern's
// leading space stands only before a number of up to three digits (" 0 kB", " 999 kB"); a longer
// one begins with its digits ("1 024 kB", "1464 844 kB"). The export trims it.
void AppendListingSizeText(QByteArray& out, qint64 bytes);
// Appends the trimmed size text ("1 024 kB") as ASCII bytes.
void AppendSizeText(QByteArray& out, qint64 bytes);

// Day.month.year of a FILETIME, in UTC, without leading zeros: "5.3.2004". Negative values are
// taken as 0 (1.1.1601).
void AppendDateText(QByteArray& out, qint64 fileTime);

// "-12", "0", "1078315200".
void AppendSignedDecimal(QByteArray& out, qint64 value);
// ISO 8601 UTC of a FILETIME in whole seconds: "2004-03-03T12:00:00Z"; years outside 0000..9999
// take the expanded form with a sign ("+30828-09-14T02:48:05Z", "-0001-12-31T00:00:00Z").
void AppendIsoTime(QByteArray& out, qint64 fileTime);

// The text before its first NUL, or all of it.
QString StripTerminator(const QString& text);

// Type name of a file from its extension, cached per lower-cased extension.
QString TypeNameForFile(const QString& name);

} // namespace treelan
