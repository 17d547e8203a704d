#include <gtest/gtest.h>

#include "platform/ns/SharedInstance.h"

namespace {

struct Thing {
    int made;
};

// The object is made once and kept; a replacement hands back the one it replaces; after a
// null replacement the next reader gets a new one rather than nothing.
TEST(ReplaceableSharedTest, MakesOnceKeepsReplacementsAndMakesAgainAfterNull) {
    using Shared = ns::ReplaceableShared<Thing>;
    int count = 0;
    auto make = [&count] { return std::make_shared<Thing>(Thing{++count}); };
    auto first = Shared::get(make);
    EXPECT_EQ(Shared::get(make), first);
    EXPECT_EQ(count, 1);

    auto mine = std::make_shared<Thing>(Thing{100});
    EXPECT_EQ(Shared::exchange(mine), first);
    EXPECT_EQ(Shared::get(make), mine);
    EXPECT_EQ(Shared::exchange(nullptr), mine);
    EXPECT_EQ(Shared::get(make)->made, 2);
}

}  // namespace
