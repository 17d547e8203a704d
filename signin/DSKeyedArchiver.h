#pragma once

#include <optional>

#include "platform/ns/Data.h"
#include "signin/DSArchiveValue.h"

// Writes an object graph as a keyed archive: a binary property list whose "$objects" hold
// every object once, referenced by UID, with "$top" naming the root under "root".
class DSKeyedArchiver {
public:
    static std::optional<ns::Data> archivedDataWithRootObject(const DSArchiveValue& root);
};
