#include "toolbox/Foundation/NSDKClassLookup.h"

#include <gtest/gtest.h>

#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"

namespace {

class Plain : public ns::Object {};

// Registers classes and protocols in a shared registry of the test's own.
class ClassLookupTest : public ::testing::Test {
protected:
    static rt::ClassRegistry& registry() { return rt::ClassRegistry::shared(); }
    const rt::Class* addClass(const std::string& name) {
        return registry().registerClass(name, std::nullopt,
                                        [] { return std::make_shared<Plain>(); });
    }
    void addProtocol(const std::string& name) { registry().registerProtocol(name); }

private:
    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
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
