// Feeds literal text to a loader as the bytes of an embedded item.
#pragma once

#include <string_view>

#include "content/loadable_text.h"

inline int loadText(LoadableText& target, std::string_view text) {
    return target.loadFromBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}
