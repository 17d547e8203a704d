#pragma once

#include <cstddef>
#include <set>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "signin/DSArchiveValue.h"

// Reads a keyed archive of outside origin: stored blobs and keychain data. Only the classes
// of the allow-list are decoded; input beyond the size, object-count or nesting limits, a
// reference outside "$objects" and an object that contains itself are refused.
class DSKeyedUnarchiver {
public:
    static constexpr size_t kMaxArchiveBytes = 16u << 20;
    static constexpr size_t kMaxObjects = 1u << 20;
    static constexpr size_t kMaxDepth = 64;

    // The containers, numbers, texts, bytes, dates and the null object of the archive format.
    static const std::set<std::string>& foundationClasses();

    static ns::Result<DSArchiveValue> unarchive(const ns::Data& data,
                                                const std::set<std::string>& allowedClasses);
};
