#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <string>

#include "platform/ns/Data.h"

namespace benchsupport {

// Reads out every string, number, reference and key below `node`, as a decoder of it must.
// A plain recursive function: a type-erased callable per node would slow the baseline down.
inline void walkPlistNode(plist_t node, size_t& seen) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            seen += std::string(s, length).size();
            break;
        }
        case PLIST_UID: {
            uint64_t v = 0;
            plist_get_uid_val(node, &v);
            seen += v;
            break;
        }
        case PLIST_ARRAY: {
            const uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i) walkPlistNode(plist_array_get_item(node, i), seen);
            break;
        }
        case PLIST_DICT: {
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            char* key = nullptr;
            plist_t value = nullptr;
            for (plist_dict_next_item(node, it, &key, &value); value;
                 plist_dict_next_item(node, it, &key, &value)) {
                seen += std::string(key).size();
                free(key);
                walkPlistNode(value, seen);
            }
            free(it);
            break;
        }
        default:
            ++seen;
    }
}

// A binary property list parsed by libplist and walked whole: the baseline of the keyed-archive
// decoders.
inline size_t walkBinaryPlist(const ns::Data& data) {
    plist_t top = nullptr;
    plist_from_bin(data.chars().data(), static_cast<uint32_t>(data.length()), &top);
    size_t seen = 0;
    walkPlistNode(top, seen);
    plist_free(top);
    return seen;
}

}  // namespace benchsupport
