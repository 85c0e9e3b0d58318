#pragma once

#include <QByteArray>
#include <QStringView>

namespace treelan {

// Appends a JSON string, quotes included, of bytes that are written as they are except for the
// quote, the backslash, the C0 controls (RFC 8259 section 7) and DEL. Valid UTF-8 in gives valid
// JSON out; other bytes are copied unchanged, as ncdu's export does with raw file names.
void AppendJsonBytes(QByteArray& out, const char* bytes, qsizetype length);
// The same without the quotes, to build one string from several pieces.
void AppendJsonEscaped(QByteArray& out, const char* bytes, qsizetype length);
inline void AppendJsonBytes(QByteArray& out, const QByteArray& bytes) {
    AppendJsonBytes(out, bytes.constData(), bytes.size());
}
// The same for text: UTF-8 of `text`, where an unpaired surrogate becomes U+FFFD, so the
// document is always valid UTF-8 and every parser takes it.
void AppendJsonString(QByteArray& out, QStringView text);

// Percent-encoding (RFC 3986) of every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~), with
// upper-case hex digits: lossless for any bytes, and plain ASCII in any document.
void AppendPercentEncoded(QByteArray& out, const char* bytes, qsizetype length);
inline void AppendPercentEncoded(QByteArray& out, const QByteArray& bytes) {
    AppendPercentEncoded(out, bytes.constData(), bytes.size());
}

// True when a spreadsheet would take a cell that starts with this byte as a formula (= + - @)
// or would drop a leading TAB or CR and then do so. The apostrophe is here too, so that the guard
// below stays reversible: strip one leading apostrophe from a guarded cell to get the text back.
inline bool NeedsFormulaGuard(char first) {
    return first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' ||
           first == '\r' || first == '\'';
}

// Appends one text cell of a CSV (separator ',') or TSV ('\t') row from UTF-8 bytes. A cell that
// NeedsFormulaGuard gets a leading apostrophe (OWASP's advice against CSV injection); a cell that
// holds the separator, a quote, CR or LF is quoted as RFC 4180 says, with quotes doubled.
void AppendCsvField(QByteArray& out, const char* utf8, qsizetype length, char separator);
inline void AppendCsvField(QByteArray& out, const QByteArray& utf8, char separator) {
    AppendCsvField(out, utf8.constData(), utf8.size(), separator);
}

} // namespace treelan
