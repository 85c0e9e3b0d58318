#include "format/Sort.h"

namespace treelan {

QString SortKey(const QString& text) {
    // Most names are ASCII; upper-casing those by hand is several times faster than the full
    // Unicode mapping, and gives the same result.
    const qsizetype n = text.size();
    const auto* src = reinterpret_cast<const char16_t*>(text.constData());
    QString key(n, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(key.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c >= 0x80) return text.toUpper();
        dst[i] = c >= u'a' && c <= u'z' ? char16_t(c - 0x20) : c;
    }
    return key;
}

void SortTexts(QStringList& list) {
    struct Item {
        QString key;
        QString name;
    };
    std::vector<Item> items;
    items.reserve(std::size_t(list.size()));
    for (QString& text : list)
        items.push_back({SortKey(text), std::move(text)});
    SortRecords(items);
    for (qsizetype i = 0; i < list.size(); ++i)
        list[i] = std::move(items[std::size_t(i)].name);
}

} // namespace treelan
