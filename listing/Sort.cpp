#include "listing/Sort.h"

namespace treelan {

QString SortKey(const QString& text) {
    return text.toUpper();
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
