#include "sdk/core/NEBAppAssociationRegistration.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"

namespace {

using Registration = NEBAppAssociationRegistration;

std::shared_ptr<ns::Object> makeObject() {
    return std::make_shared<ns::Object>();
}

TEST(NEBAppAssociationRegistrationTest, OneObjectPerHostAndKey) {
    auto host = makeObject();
    int made = 0;
    auto block = [&made] {
        ++made;
        return makeObject();
    };
    auto first = Registration::registeredObjectWithHost(host, "k", block);
    EXPECT_EQ(Registration::registeredObjectWithHost(host, "k", block), first);
    EXPECT_NE(Registration::registeredObjectWithHost(host, "other", block), first);
    EXPECT_NE(Registration::registeredObjectWithHost(makeObject(), "k", block), first);
    EXPECT_EQ(made, 3);
}

TEST(NEBAppAssociationRegistrationTest, ReentryForTheSameKeyThrowsAndOtherKeysWork) {
    auto host = makeObject();
    std::shared_ptr<ns::Object> inner;
    auto outer = Registration::registeredObjectWithHost(host, "outer", [&] {
        inner = Registration::registeredObjectWithHost(host, "inner", makeObject);
        return makeObject();
    });
    EXPECT_TRUE(outer);
    EXPECT_EQ(Registration::registeredObjectWithHost(host, "inner", makeObject), inner);

    try {
        Registration::registeredObjectWithHost(host, "self", [&] {
            return Registration::registeredObjectWithHost(host, "self", makeObject);
        });
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), "Reentering registeredObjectWithHost:key:creationBlock: not allowed");
        EXPECT_NE(e.reason().find("key: self"), std::string::npos);
    }
    // The failed creation left the key free.
    EXPECT_TRUE(Registration::registeredObjectWithHost(host, "self", makeObject));
}

TEST(NEBAppAssociationRegistrationTest, NullIsNotRegisteredAndObjectsGoWithTheirHost) {
    auto host = makeObject();
    EXPECT_EQ(Registration::registeredObjectWithHost(host, "k", [] { return nullptr; }), nullptr);
    auto object = Registration::registeredObjectWithHost(host, "k", makeObject);
    ASSERT_TRUE(object);
    std::weak_ptr<ns::Object> weak = object;
    object.reset();
    host.reset();
    Registration::registeredObjectWithHost(makeObject(), "k", makeObject);  // sweeps the departed
    EXPECT_TRUE(weak.expired());
}

TEST(NEBAppAssociationRegistrationTest, TypedLookUp) {
    struct Box : ns::Object {
        int value = 7;
    };
    auto host = makeObject();
    auto box = Registration::registeredObjectWithHost<Box>(
        host, "box", std::function<std::shared_ptr<Box>()>([] { return std::make_shared<Box>(); }));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->value, 7);
}

}  // namespace
