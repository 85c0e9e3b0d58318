#pragma once

#include <QString>

class QWidget;

namespace treelan {

// Replaces the design texts of a window and its controls by interface strings. Each element names
// its string key: widgets, tabs (tab data) and toolbar actions in the dynamic property "tag",
// actions (menu items) in their own text, list columns in the ListingModel's column tags. Only
// numeric keys take part; anything else keeps its design text. Every localised control also gets
// the character set of key 100 as the dynamic property "charset" (Qt fonts carry none).
void LocalizeForm(QWidget* window);

// The key test: a decimal number such as "122". Empty and alphabetic texts are not keys.
bool IsNumericKey(const QString& text);

} // namespace treelan
