// Hierarchies nested deep in host documents, and the stack that a thousand levels of them must
// convert and export on.
#pragma once

#include <cstddef>
#include <string>

// 1 MiB; sanitizer builds pad every frame with red zones, so there it is larger.
#ifdef RAYDECK_SANITIZED
constexpr std::size_t kThousandLevelStackBytes = 8 << 20;
#else
constexpr std::size_t kThousandLevelStackBytes = 1 << 20;
#endif

// The object `leaf` (document text) under `levels` nulls, each the only child of the one above,
// named `name` when one is given: the text of the outermost object.
inline std::string nestedInNulls(int levels, const std::string& leaf,
                                 const std::string& name = std::string()) {
    const std::string open = (name.empty() ? std::string("{") : "{\"name\": \"" + name + "\", ") +
                             "\"type\": 5140, \"children\": [";
    std::string text;
    for (int i = 0; i < levels; ++i) {
        text += open;
    }
    text += leaf;
    for (int i = 0; i < levels; ++i) {
        text += "]}";
    }
    return text;
}
