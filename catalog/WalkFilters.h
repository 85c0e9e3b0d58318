#pragma once

#include "platform/DirWalker.h"

#include <QByteArray>
#include <string>

namespace treelan::catalog {

// The walk's filters as a snapshot keeps them (JSON; patterns percent-encoded, being raw bytes):
// what a later walk of the same folder must leave out to compare like with like.
std::string FiltersToJson(const WalkOptions& walk);
// Fills the filters of `walk` from what FiltersToJson gave; false when the text is not that.
bool FiltersFromJson(const std::string& json, WalkOptions& walk);

} // namespace treelan::catalog
