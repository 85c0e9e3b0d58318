#pragma once

// The media fields' keys in MediaField's order, in plain C++ for readers that load no Qt (the
// catalogue's search); MediaInfo's table of names takes its keys from here.

#include <array>
#include <string_view>

namespace treelan {

// Not "title": the XML's file element names its file with that attribute.
inline constexpr std::array<std::string_view, 11> kMediaFieldKeys = {
    "mediaTitle", "artist", "album",     "track",      "year",       "genre",
    "dimensions", "codec",  "dateTaken", "cameraMake", "cameraModel"};

} // namespace treelan
