#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace treelan {

// Sort key of a name: its upper-case form, compared code unit by code unit.
QString SortKey(const QString& text);

// Ascending by upper-cased text; equal keys are ordered by the text itself, so the result does
// not depend on the enumeration order.
void SortTexts(QStringList& list);

// Sorts any records that carry a precomputed `key` (the upper-cased first text) and a `name`.
template <typename Record> void SortRecords(std::vector<Record>& records);

} // namespace treelan

#include <algorithm>

template <typename Record> void treelan::SortRecords(std::vector<Record>& records) {
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        if (const int c = QString::compare(a.key, b.key, Qt::CaseSensitive); c != 0) return c < 0;
        return QString::compare(a.name, b.name, Qt::CaseSensitive) < 0;
    });
}
