#include "platform/rt/ClassRegistry.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class Widget : public ns::Object {};
class FancyWidget : public Widget {};

// Base <- Widget <- FancyWidget, plus an unrelated abstract class.
class ClassRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry.registerProtocol("Drawable");
        registry.registerProtocol("Tappable");
        registry.registerClass("Base", std::nullopt, nullptr, {"describe"}, {"Drawable"});
        registry.registerClass("Widget", "Base", [] { return std::make_shared<Widget>(); },
                               {"draw"}, {});
        registry.registerClass("FancyWidget", "Widget",
                               [] { return std::make_shared<FancyWidget>(); }, {"sparkle"},
                               {"Tappable"});
        registry.registerClass("Loner", std::nullopt, nullptr);
    }
    rt::ClassRegistry registry;
};

TEST_F(ClassRegistryTest, LooksUpClassesAndProtocolsByExactName) {
    ASSERT_NE(registry.classNamed("Widget"), nullptr);
    EXPECT_EQ(registry.classNamed("Widget")->name(), "Widget");
    EXPECT_EQ(registry.classNamed("widget"), nullptr);
    EXPECT_EQ(registry.classNamed("NSDK_Widget"), nullptr);
    EXPECT_EQ(registry.classNamed(""), nullptr);
    EXPECT_TRUE(registry.isPresent("FancyWidget"));
    EXPECT_FALSE(registry.isPresent("Missing"));
    EXPECT_EQ(registry.protocolNamed("Drawable"), "Drawable");
    EXPECT_EQ(registry.protocolNamed("Widget"), std::nullopt);
    // Protocols and classes live in separate name spaces.
    EXPECT_FALSE(registry.isPresent("Drawable"));
}

TEST_F(ClassRegistryTest, FirstRegistrationOfANameStays) {
    const rt::Class* original = registry.classNamed("Widget");
    EXPECT_EQ(registry.registerClass("Widget", std::nullopt, nullptr), nullptr);
    EXPECT_EQ(registry.classNamed("Widget"), original);
    EXPECT_EQ(registry.classNamed("Widget")->superclassName(), "Base");
    EXPECT_FALSE(registry.registerProtocol("Drawable"));
}

TEST_F(ClassRegistryTest, CreatesInstancesThroughTheFactory) {
    auto object = registry.classNamed("FancyWidget")->create();
    EXPECT_NE(std::dynamic_pointer_cast<FancyWidget>(object), nullptr);
    EXPECT_TRUE(registry.classNamed("Base")->isAbstract());
    EXPECT_EQ(registry.classNamed("Base")->create(), nullptr);
}

TEST_F(ClassRegistryTest, QueriesWalkTheSuperclassChain) {
    const rt::Class* fancy = registry.classNamed("FancyWidget");
    EXPECT_EQ(fancy->superclass(), registry.classNamed("Widget"));
    EXPECT_EQ(registry.classNamed("Base")->superclass(), nullptr);

    EXPECT_TRUE(fancy->isSubclassOf("FancyWidget"));
    EXPECT_TRUE(fancy->isSubclassOf("Widget"));
    EXPECT_TRUE(fancy->isSubclassOf("Base"));
    EXPECT_FALSE(fancy->isSubclassOf("Loner"));
    EXPECT_FALSE(registry.classNamed("Widget")->isSubclassOf("FancyWidget"));

    EXPECT_TRUE(fancy->instancesRespondTo("sparkle"));
    EXPECT_TRUE(fancy->instancesRespondTo("draw"));
    EXPECT_TRUE(fancy->instancesRespondTo("describe"));
    EXPECT_FALSE(fancy->instancesRespondTo("fly"));
    EXPECT_FALSE(registry.classNamed("Widget")->instancesRespondTo("sparkle"));

    EXPECT_TRUE(fancy->conformsTo("Tappable"));
    EXPECT_TRUE(fancy->conformsTo("Drawable"));
    EXPECT_FALSE(registry.classNamed("Widget")->conformsTo("Tappable"));
    EXPECT_FALSE(registry.classNamed("Loner")->conformsTo("Drawable"));
}

TEST_F(ClassRegistryTest, SuperclassChainsThatLoopStayFinite) {
    // Superclasses are named before they exist, so two classes can name each other.
    registry.registerClass("Ping", "Pong", nullptr);
    registry.registerClass("Pong", "Ping", nullptr);
    const rt::Class* ping = registry.classNamed("Ping");
    EXPECT_TRUE(ping->isSubclassOf("Pong"));
    EXPECT_FALSE(ping->isSubclassOf("Base"));
    EXPECT_FALSE(ping->instancesRespondTo("fly"));
    EXPECT_FALSE(ping->conformsTo("Tappable"));
}

TEST_F(ClassRegistryTest, ListsClassesInNameOrder) {
    std::vector<std::string> names;
    for (const rt::Class* c : registry.allClasses()) names.push_back(c->name());
    EXPECT_EQ(names, (std::vector<std::string>{"Base", "FancyWidget", "Loner", "Widget"}));
}

TEST(ClassRegistry, ConcurrentRegistrationAndLookup) {
    rt::ClassRegistry registry;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&registry, t] {
            for (int i = 0; i < 200; ++i) {
                std::string name = "C" + std::to_string(t) + "_" + std::to_string(i);
                registry.registerClass(name,
                                       i ? std::optional<std::string>("C" + std::to_string(t) +
                                                                      "_" + std::to_string(i - 1))
                                         : std::nullopt,
                                       nullptr, {"op" + std::to_string(i)});
                // Every class of this thread is already visible to it.
                ASSERT_TRUE(registry.classNamed(name)->instancesRespondTo("op0"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(registry.allClasses().size(), 800u);
}

}  // namespace
