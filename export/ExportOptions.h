#pragma once

#include "platform/TreeOptions.h"

namespace treelan {

// An export walks what a listing walks; the options are the same struct.
using ExportOptions = TreeOptions;

} // namespace treelan
