#include "toolbox/Foundation/NSDKClassLookup.h"

#include <gtest/gtest.h>

#include "platform/rt/ClassRegistry.h"

namespace {

class Plain : public ns::Object {};

// Registers classes and protocols in the shared registry and removes them afterwards.
class ClassLookupTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& name : classes_) registry().removeClass(name);
        for (const auto& name : protocols_) registry().removeProtocol(name);
    }
    static rt::ClassRegistry& registry() { return rt::ClassRegistry::shared(); }
    const rt::Class* addClass(const std::string& name) {
        classes_.push_back(name);
        return registry().registerClass(name, std::nullopt,
                                        [] { return std::make_shared<Plain>(); });
    }
    void addProtocol(const std::string& name) {
        protocols_.push_back(name);
        registry().registerProtocol(name);
    }

private:
    std::vector<std::string> classes_;
    std::vector<std::string> protocols_;
};

TEST_F(ClassLookupTest, PrefixedClassWinsOverTheBareOne) {
    const rt::Class* bare = addClass("TBXLookupBoth");
    const rt::Class* own = addClass("NSDK_TBXLookupBoth");
    const rt::Class* only = addClass("TBXLookupBareOnly");
    for (auto lookUp : {NSDKLookUpClass, NSDKGetClass}) {
        EXPECT_EQ(lookUp("TBXLookupBoth"), own);
        EXPECT_EQ(lookUp("TBXLookupBareOnly"), only);
        EXPECT_EQ(lookUp("TBXLookupNeither"), nullptr);
        EXPECT_EQ(lookUp(nullptr), nullptr);
    }
    EXPECT_EQ(NSDKClassFromString("TBXLookupBoth"), own);
    EXPECT_EQ(NSDKClassFromString(std::nullopt), nullptr);
    EXPECT_NE(bare, own);
}

TEST_F(ClassLookupTest, PrefixIsAddedEvenToPrefixedNames) {
    const rt::Class* own = addClass("NSDK_TBXLookupOwn");
    // 'NSDK_NSDK_TBXLookupOwn' is unknown, so the name as given is used.
    EXPECT_EQ(NSDKGetClass("NSDK_TBXLookupOwn"), own);
    EXPECT_EQ(NSDKGetClass("TBXLookupOwn"), own);
}

TEST_F(ClassLookupTest, PlatformClassWithoutOwnCopyIsFoundAsItIs) {
    const rt::Class* device = addClass("UIDevice");
    EXPECT_EQ(NSDKClassFromString("UIDevice"), device);
}

TEST_F(ClassLookupTest, ProtocolsFollowTheSameRule) {
    addProtocol("TBXLookupProto");
    EXPECT_EQ(NSDKGetProtocol("TBXLookupProto"), "TBXLookupProto");
    addProtocol("NSDK_TBXLookupProto");
    EXPECT_EQ(NSDKGetProtocol("TBXLookupProto"), "NSDK_TBXLookupProto");
    EXPECT_EQ(NSDKGetProtocol("TBXLookupMissing"), std::nullopt);
    EXPECT_EQ(NSDKGetProtocol(nullptr), std::nullopt);
}

}  // namespace
