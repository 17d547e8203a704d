#include "platform/rt/ModuleLoader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/View.h"
#include "tests/support/LogCapture.h"

namespace {

class Greeter : public ns::Object {
public:
    std::string description() const override { return "linked greeter"; }
};

class ModuleLoaderTest : public ::testing::Test {
protected:
    ns::ScopedSharedInstance<rt::ModuleLoader> loader_;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
};

// A linked part's class is in the registry once asked for, whichever registry is current.
TEST_F(ModuleLoaderTest, AnnouncedClassEntersTheRegistryWhenFirstAskedFor) {
    auto& loader = rt::ModuleLoader::shared();
    loader.announce("Greeter", [] { return std::make_shared<Greeter>(); });
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("Greeter"), nullptr);
    const rt::Class* found = loader.classNamed("Greeter");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("Greeter"), found);
    auto greeter = loader.create<Greeter>("Greeter");
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->description(), "linked greeter");
    EXPECT_EQ(loader.create<ui::View>("Greeter"), nullptr);
    EXPECT_EQ(loader.create<Greeter>("Stranger"), nullptr);
}

// A module that is not there answers nothing, is reported once, and is not tried again.
TEST_F(ModuleLoaderTest, MissingModuleAnswersNothingAndIsReportedOnce) {
    testsupport::LogCapture log;
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("Absent", "/nonexistent/absent-module.so");
    EXPECT_EQ(loader.classNamed("Absent"), nullptr);
    EXPECT_EQ(loader.create<ns::Object>("Absent"), nullptr);
    EXPECT_EQ(log.count("Cannot load the module /nonexistent/absent-module.so"), 1u);
}

// A module that loads but lacks the class asked for (one of another build) is named once, with
// what it lacks; any library that announces nothing stands in for one here.
TEST_F(ModuleLoaderTest, ModuleWithoutTheClassIsNamedOnceWithTheClass) {
    Dl_info library{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&zlibVersion), &library), 0);
    testsupport::LogCapture log;
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("SECCryptoEngine", library.dli_fname);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(loader.create<ns::Object>("SECCryptoEngine"), nullptr);
    EXPECT_EQ(log.count(std::string("The module ") + library.dli_fname +
                        " does not provide SECCryptoEngine"),
              1u);
    EXPECT_EQ(log.count("Cannot load"), 0u);
}

// A module's classes arrive through the program's own loader and registry (scoped here): the
// module carries no copy of them.
TEST_F(ModuleLoaderTest, ModuleAnnouncesThroughTheProgramsOwnLoader) {
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("LoadableGreeter", HYB_TEST_MODULE);
    auto greeter = loader.create<ns::Object>("LoadableGreeter");
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->description(), "greetings from a module");
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("LoadableGreeter"),
              loader.classNamed("LoadableGreeter"));
}

}  // namespace
