// The README's recipe for a plug-in, as written there (the build copies its C++ block into the
// header below), registered and called the way the recipe's steps say.
#include <gtest/gtest.h>

#include "readme/ReadmePluginRecipe.h"
#include "tests/bridge/HostFixture.h"

namespace {

class ReadmePluginRecipeTest : public hosttest::HostFixture {};

TEST_F(ReadmePluginRecipeTest, TheRecipesPluginAnswersThePage) {
    auto& registry = rt::ClassRegistry::shared();
    registry.registerClass("HelloPlugin", "HYBPlugin",
                           [] { return std::make_shared<HelloPlugin>(); });
    writeConfig(
        R"(<feature name="Hello"><param name="ios-package" value="HelloPlugin"/></feature>)");
    start();
    ASSERT_TRUE(page().postMessageJSON("hybrid", R"(["Hello1","Hello","greet",["you"]])"));
    ASSERT_TRUE(page().postMessageJSON("hybrid", R"(["Hello2","Hello","greet",[]])"));
    loop().runUntilIdle();
    std::string scripts;
    for (const auto& script : page().evaluatedScripts()) scripts += script + "\n";
    EXPECT_NE(scripts.find("nativeCallback('Hello1',1,\"hello you\""), std::string::npos)
        << scripts;
    EXPECT_NE(scripts.find("nativeCallback('Hello2',1,\"hello world\""), std::string::npos)
        << scripts;
}

}  // namespace
