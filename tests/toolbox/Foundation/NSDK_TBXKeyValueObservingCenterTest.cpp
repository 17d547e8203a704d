#include "toolbox/Foundation/NSDK_TBXKeyValueObservingCenter.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "toolbox/Foundation/NSDK_TBXKeyValueChangeNotification.h"
#include "toolbox/Foundation/NSObject+TBXKeyValueObservingAdditions.h"

namespace {

using Change = std::shared_ptr<NSDK_TBXKeyValueChangeNotification>;

// An observable object with two properties.
class Thing : public ns::KeyValueObservable {
public:
    ns::Value valueForKey(std::string_view key) const override {
        if (key == "name") return name_;
        if (key == "count") return count_;
        return {};
    }
    void setName(std::string name) {
        willChangeValueForKey("name");
        name_ = std::move(name);
        didChangeValueForKey("name");
    }
    void setCount(int64_t count) {
        willChangeValueForKey("count");
        count_ = count;
        didChangeValueForKey("count");
    }

private:
    std::string name_ = "first";
    int64_t count_ = 0;
};

class Watcher : public ns::Object {
public:
    void nameChanged(const Change& change) { changes.push_back(change); }
    void otherChanged(const Change& change) { others.push_back(change); }
    std::vector<Change> changes;
    std::vector<Change> others;
};

const TBXKVOSelector kNameChanged = TBXKVOSelector::of("nameChanged:", &Watcher::nameChanged);
const TBXKVOSelector kOtherChanged = TBXKVOSelector::of("otherChanged:", &Watcher::otherChanged);
constexpr unsigned kNewAndOld = ns::kKeyValueObservingOptionNew | ns::kKeyValueObservingOptionOld;

class KeyValueObservingTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& w : {a_, b_}) tbx_stopObservingAllKeyPaths(w.get());
    }
    std::shared_ptr<Thing> thing_ = std::make_shared<Thing>();
    std::shared_ptr<Thing> other_ = std::make_shared<Thing>();
    std::shared_ptr<Watcher> a_ = std::make_shared<Watcher>();
    std::shared_ptr<Watcher> b_ = std::make_shared<Watcher>();
};

TEST_F(KeyValueObservingTest, SelectorReceivesTheChangeWithTheUserInfo) {
    tbx_addObserver(thing_, a_, "name", kNameChanged, ns::Value::dict({{"tag", 7}}), kNewAndOld);
    thing_->setName("second");
    thing_->setCount(3);  // not observed
    ASSERT_EQ(a_->changes.size(), 1u);
    const Change& change = a_->changes[0];
    EXPECT_EQ(change->keyPath(), "name");
    EXPECT_EQ(change->object(), thing_);
    EXPECT_EQ(change->userInfo(), ns::Value::dict({{"tag", 7}}));
    EXPECT_EQ(change->change().at(ns::kKeyValueChangeNewKey), "second");
    EXPECT_EQ(change->change().at(ns::kKeyValueChangeOldKey), "first");
    EXPECT_EQ(change->change().at(ns::kKeyValueChangeKindKey), ns::kKeyValueChangeSetting);

    auto copy = change->copy();
    EXPECT_NE(copy, change);
    EXPECT_TRUE(copy->isEqual(change.get()));
    EXPECT_EQ(copy->hash(), change->hash());
    EXPECT_FALSE(copy->isEqual(nullptr));
}

TEST_F(KeyValueObservingTest, RegisteringTwiceKeepsOneRegistration) {
    auto& center = NSDK_TBXKeyValueObservingCenter::defaultCenter();
    size_t before = center.registrationCount();
    tbx_addObserver(thing_, a_, "name", kNameChanged, 1, ns::kKeyValueObservingOptionNew);
    tbx_addObserver(thing_, a_, "name", kNameChanged, 2, ns::kKeyValueObservingOptionNew);
    EXPECT_EQ(center.registrationCount(), before + 1);
    EXPECT_EQ(thing_->observationCount("name"), 1u);
    thing_->setName("x");
    ASSERT_EQ(a_->changes.size(), 1u);
    EXPECT_EQ(a_->changes[0]->userInfo(), 2);  // the later registration replaced the first
}

TEST_F(KeyValueObservingTest, RemovalMatchesObserverObjectKeyPathAndSelector) {
    tbx_addObserver(thing_, a_, "name", kNameChanged, {}, ns::kKeyValueObservingOptionNew);
    tbx_removeObserver(thing_, a_.get(), "name", kOtherChanged);  // another selector
    tbx_removeObserver(other_, a_.get(), "name", kNameChanged);   // another object
    thing_->setName("kept");
    EXPECT_EQ(a_->changes.size(), 1u);
    tbx_removeObserver(thing_, a_.get(), "name", kNameChanged);
    thing_->setName("gone");
    EXPECT_EQ(a_->changes.size(), 1u);
    EXPECT_EQ(thing_->observationCount("name"), 0u);
}

TEST_F(KeyValueObservingTest, StopObservingAllKeyPathsLeavesOtherObservers) {
    tbx_addObserver(thing_, a_, "name", kNameChanged, {}, ns::kKeyValueObservingOptionNew);
    tbx_addObserver(other_, a_, "count", kOtherChanged, {}, ns::kKeyValueObservingOptionNew);
    tbx_addObserver(thing_, b_, "name", kNameChanged, {}, ns::kKeyValueObservingOptionNew);
    tbx_stopObservingAllKeyPaths(a_.get());
    thing_->setName("n");
    other_->setCount(1);
    EXPECT_TRUE(a_->changes.empty());
    EXPECT_TRUE(a_->others.empty());
    EXPECT_EQ(b_->changes.size(), 1u);
}

TEST_F(KeyValueObservingTest, DeadObserverIsNeverCalled) {
    auto& center = NSDK_TBXKeyValueObservingCenter::defaultCenter();
    auto shortLived = std::make_shared<Watcher>();
    tbx_addObserver(thing_, shortLived, "name", kNameChanged, {}, ns::kKeyValueObservingOptionNew);
    std::weak_ptr<Watcher> weak = shortLived;
    shortLived.reset();
    EXPECT_TRUE(weak.expired());
    thing_->setName("nobody hears this");  // would use a freed observer if it were held raw

    // The orphaned registration goes with the next one added.
    size_t before = center.registrationCount();
    tbx_addObserver(thing_, a_, "name", kNameChanged, {}, ns::kKeyValueObservingOptionNew);
    EXPECT_EQ(center.registrationCount(), before);
    EXPECT_EQ(thing_->observationCount("name"), 1u);

    // An observed object that goes takes its observations with it, and removing them later
    // is harmless.
    auto target = std::make_shared<Thing>();
    tbx_addObserver(target, b_, "count", kOtherChanged, {}, ns::kKeyValueObservingOptionNew);
    target.reset();
    tbx_stopObservingAllKeyPaths(b_.get());
}

TEST_F(KeyValueObservingTest, MissingArgumentsAreProgrammingFaults) {
    auto reason = [](auto call) {
        try {
            call();
        } catch (const ns::Exception& e) {
            return e.reason();
        }
        return std::string("no exception");
    };
    const std::string expected = "Missing observer, keyPath, or selector";
    EXPECT_EQ(reason([&] { tbx_addObserver(thing_, nullptr, "name", kNameChanged, {}, 0); }),
              expected);
    EXPECT_EQ(reason([&] { tbx_addObserver(thing_, a_, "", kNameChanged, {}, 0); }), expected);
    EXPECT_EQ(reason([&] { tbx_addObserver(thing_, a_, "name", TBXKVOSelector{}, {}, 0); }),
              expected);
    EXPECT_EQ(reason([&] { tbx_removeObserver(thing_, a_.get(), "", kNameChanged); }), expected);
}

TEST_F(KeyValueObservingTest, PlatformOptions) {
    tbx_addObserver(thing_, a_, "count", kNameChanged, {},
                    ns::kKeyValueObservingOptionInitial | ns::kKeyValueObservingOptionNew |
                        ns::kKeyValueObservingOptionPrior | ns::kKeyValueObservingOptionOld);
    ASSERT_EQ(a_->changes.size(), 1u);  // the initial value, at once
    EXPECT_EQ(a_->changes[0]->change().at(ns::kKeyValueChangeNewKey), 0);
    thing_->setCount(5);
    ASSERT_EQ(a_->changes.size(), 3u);
    const auto& prior = a_->changes[1]->change();
    EXPECT_EQ(prior.at(ns::kKeyValueChangeNotificationIsPriorKey), true);
    EXPECT_EQ(prior.at(ns::kKeyValueChangeOldKey), 0);
    EXPECT_FALSE(prior.contains(ns::kKeyValueChangeNewKey));
    const auto& after = a_->changes[2]->change();
    EXPECT_EQ(after.at(ns::kKeyValueChangeNewKey), 5);
    EXPECT_FALSE(after.contains(ns::kKeyValueChangeNotificationIsPriorKey));

    // Without Old or New the change holds only its kind.
    tbx_addObserver(thing_, b_, "count", kNameChanged, {}, 0);
    thing_->setCount(6);
    ASSERT_EQ(b_->changes.size(), 1u);
    EXPECT_EQ(b_->changes[0]->change().size(), 1u);
}

}  // namespace
