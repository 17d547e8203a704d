#include "toolbox/iPhone/NSDK_TBXABAddressBook.h"

#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ui/GraphicsContext.h"
#include "tests/platform/ns/SandboxFixture.h"
#include "toolbox/iPhone/NSDK_TBXABMultiValueEnumerator.h"
#include "toolbox/iPhone/NSDK_TBXABMutableMultiValue.h"

namespace {

using namespace svc;

class AddressBookTest : public testsupport::SandboxTest {
protected:
    void TearDown() override {
        AddressBook::setAccessGranted(true);
        testsupport::SandboxTest::TearDown();
    }
    static std::shared_ptr<NSDK_TBXABMutableMultiValue> phones(
        std::initializer_list<std::pair<const char*, const char*>> entries) {
        auto multi = NSDK_TBXABMutableMultiValue::valueWithPropertyType(kABMultiStringPropertyType);
        for (const auto& [label, number] : entries) multi->addValue(ns::Value(number), label);
        return multi;
    }
    static std::vector<std::string> names(const auto& records) {
        std::vector<std::string> out;
        for (const auto& r : records) out.push_back(r->compositeName());
        return out;
    }
};

TEST_F(AddressBookTest, PropertyValuesAreCheckedByType) {
    auto person = NSDK_TBXABPerson::personWithFirstName("Ada", "Lovelace");
    EXPECT_EQ(person->compositeName(), "Ada Lovelace");
    EXPECT_FALSE(person->setValue(ns::Value("1815-12-10"), kABPersonBirthdayProperty));
    EXPECT_TRUE(person->setValue(ns::Value(ns::Date::fromTimeIntervalSince1970(0)),
                                 kABPersonBirthdayProperty));
    EXPECT_FALSE(person->setValue(std::nullopt, kABPersonNoteProperty));
    EXPECT_FALSE(person->setValue(ns::Value(5), kABPersonNoteProperty));
    EXPECT_FALSE(person->setValue(ns::Value("x"), kABPersonPhoneProperty));
    EXPECT_FALSE(person->setValue(ns::Value("x"), 999));

    auto numbers = phones({{kABHomeLabel, "555-1"}, {kABWorkLabel, "555-2"}});
    EXPECT_TRUE(person->setValue(numbers, kABPersonPhoneProperty));
    auto stored = person->valueForProperty(kABPersonPhoneProperty);
    ASSERT_TRUE(stored);
    const auto& multi = std::get<std::shared_ptr<NSDK_TBXABMultiValue>>(*stored);
    EXPECT_TRUE(multi->isEqual(numbers.get()));
    EXPECT_EQ(multi->hash(), numbers->hash());
    EXPECT_EQ(multi->labelAtIndex(1), kABWorkLabel);

    // The record keeps its own copy: later changes of the caller's multi-value stay out.
    numbers->addValue(ns::Value("555-3"), kABOtherLabel);
    EXPECT_EQ(std::get<std::shared_ptr<NSDK_TBXABMultiValue>>(
                  *person->valueForProperty(kABPersonPhoneProperty))
                  ->count(),
              2u);

    EXPECT_TRUE(person->removeValueForProperty(kABPersonPhoneProperty));
    EXPECT_FALSE(person->removeValueForProperty(kABPersonPhoneProperty));
    EXPECT_EQ(person->valueForProperty(kABPersonPhoneProperty), std::nullopt);

    auto group = NSDK_TBXABGroup::groupNamed("Family");
    EXPECT_EQ(NSDK_TBXABGroup::typeOfProperty(kABGroupNameProperty), kABStringPropertyType);
    EXPECT_EQ(NSDK_TBXABGroup::typeOfProperty(1), kABInvalidPropertyType);
    EXPECT_FALSE(group->setValue(ns::Value("x"), 1));
    EXPECT_EQ(NSDK_TBXABGroup::localizedPropertyName(kABGroupNameProperty), "Name");
    EXPECT_EQ(NSDK_TBXABGroup::localizedPropertyName(3), "UNKNOWN_PROPERTY");
}

TEST_F(AddressBookTest, MutableMultiValueRefusesAndCountsChanges) {
    auto multi = NSDK_TBXABMutableMultiValue::valueWithPropertyType(kABMultiStringPropertyType);
    EXPECT_EQ(NSDK_TBXABMutableMultiValue::valueWithPropertyType(0), nullptr);
    EXPECT_EQ(NSDK_TBXABMutableMultiValue::valueWithPropertyType(kABStringPropertyType), nullptr);

    EXPECT_EQ(multi->addValue(ns::Value("a"), std::nullopt), kABMultiValueInvalidIdentifier);
    EXPECT_EQ(multi->addValue(ns::Value(3), "l"), kABMultiValueInvalidIdentifier);
    EXPECT_EQ(multi->addValue(std::nullopt, "l"), kABMultiValueInvalidIdentifier);
    EXPECT_EQ(multi->insertValue(ns::Value("a"), "l", 1), kABMultiValueInvalidIdentifier);
    EXPECT_EQ(multi->count(), 0u);
    EXPECT_EQ(multi->mutations(), 0u);

    auto first = multi->addValue(ns::Value("a"), "one");
    auto second = multi->insertValue(ns::Value("b"), "two", 0);
    EXPECT_EQ(multi->mutations(), 2u);
    EXPECT_EQ(multi->indexForIdentifier(first), 1);
    EXPECT_EQ(multi->indexForIdentifier(second), 0);
    EXPECT_EQ(multi->indexForIdentifier(77), kTBXABNotFound);
    EXPECT_EQ(multi->identifierAtIndex(5), kABMultiValueInvalidIdentifier);
    EXPECT_EQ(multi->valueForIdentifier(first), ns::Value("a"));
    EXPECT_EQ(multi->labelForIdentifier(77), std::nullopt);
    EXPECT_FALSE(multi->replaceValueAtIndex(2, ns::Value("c")));
    EXPECT_FALSE(multi->replaceValueAtIndex(0, ns::Value(1.5)));
    EXPECT_TRUE(multi->replaceLabelAtIndex(0, "zwei"));
    EXPECT_FALSE(multi->removeValueAndLabelAtIndex(2));
    EXPECT_TRUE(multi->removeValueAndLabelAtIndex(1));
    EXPECT_EQ(multi->mutations(), 4u);

    // A copy wraps the same multi-value; a mutable copy its own.
    auto frozen = multi->copy();
    EXPECT_EQ(frozen->multiValueRef(), multi->multiValueRef());
    EXPECT_EQ(frozen->mutations(), 0u);
    auto other = multi->mutableCopy();
    other->addValue(ns::Value("x"), "x");
    EXPECT_EQ(multi->count(), 1u);
    EXPECT_FALSE(other->isEqual(multi.get()));
    EXPECT_FALSE(multi->isEqual(nullptr));
}

TEST_F(AddressBookTest, EnumerationNoticesChanges) {
    auto multi = phones({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    auto labels = multi->labelEnumerator();
    EXPECT_EQ(labels->nextObject(), ns::Value("a"));
    EXPECT_EQ(labels->nextObject(), ns::Value("b"));
    EXPECT_EQ(labels->nextObject(), ns::Value("c"));
    EXPECT_EQ(labels->nextObject(), std::nullopt);

    auto values = multi->valueEnumerator();
    EXPECT_EQ(values->nextObject(), ns::Value("1"));
    multi->addValue(ns::Value("4"), "d");
    try {
        values->nextObject();
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.name(), ns::kGenericException);
        EXPECT_TRUE(e.reason().starts_with("*** Collection <")) << e.reason();
        EXPECT_TRUE(e.reason().ends_with("> was mutated while being enumerated")) << e.reason();
    }

    TBXFastEnumerationState state;
    std::vector<ns::Value> buffer(3);
    auto fast = multi->valueEnumerator();
    EXPECT_EQ(fast->countByEnumerating(state, buffer), 3u);
    ASSERT_TRUE(state.mutationsPtr);
    uint64_t seen = *state.mutationsPtr;
    EXPECT_EQ(buffer[2], ns::Value("3"));
    multi->removeValueAndLabelAtIndex(0);
    EXPECT_NE(*state.mutationsPtr, seen);
    EXPECT_EQ(NSDK_TBXABMultiValueEnumerator::initWithEnumeree(nullptr, false), nullptr);
}

TEST_F(AddressBookTest, GroupPrefixSearchIgnoresCaseDiacriticsAndWidth) {
    auto book = NSDK_TBXABAddressBook::addressBook();
    ASSERT_TRUE(book);
    for (const char* name : {"Family", "Friends", "\xC3\x89quipe"}) {  // Équipe
        EXPECT_TRUE(book->addRecord(NSDK_TBXABGroup::groupNamed(name)));
    }
    EXPECT_EQ(names(book->groupsWithCompositeNameWithPrefix("fa")),
              std::vector<std::string>{"Family"});
    EXPECT_EQ(names(book->groupsWithCompositeNameWithPrefix("FR")),
              std::vector<std::string>{"Friends"});
    EXPECT_EQ(names(book->groupsWithCompositeNameWithPrefix("\xEF\xBC\xA6\xEF\xBC\xA1")),  // ＦＡ
              std::vector<std::string>{"Family"});
    EXPECT_EQ(book->groupsWithCompositeNameWithPrefix("equ").size(), 1u);
    EXPECT_EQ(book->groupsWithCompositeNameWithPrefix("x").size(), 0u);
}

TEST_F(AddressBookTest, SavedRecordsComeBackInTheNextAddressBook) {
    auto book = NSDK_TBXABAddressBook::addressBook();
    auto ada = NSDK_TBXABPerson::personWithFirstName("Ada", "Lovelace");
    auto alan = NSDK_TBXABPerson::personWithFirstName("Alan", "Turing");
    ada->setValue(phones({{kABHomeLabel, "555-1"}}), kABPersonPhoneProperty);
    auto group = NSDK_TBXABGroup::groupNamed("Pioneers");
    EXPECT_FALSE(book->hasUnsavedChanges());
    EXPECT_EQ(ada->recordID(), kABRecordInvalidID);
    for (const auto& record : std::vector<std::shared_ptr<NSDK_TBXABRecord>>{ada, alan, group}) {
        EXPECT_TRUE(book->addRecord(record));
    }
    EXPECT_FALSE(book->addRecord(nullptr));
    EXPECT_TRUE(group->addMember(ada));
    EXPECT_FALSE(group->addMember(nullptr));
    EXPECT_TRUE(book->hasUnsavedChanges());
    EXPECT_EQ(names(book->peopleWithCompositeNameWithPrefix("al")),
              std::vector<std::string>{"Alan Turing"});
    EXPECT_EQ(names(book->peopleWithCompositeNameWithPrefix("LOVE")),
              std::vector<std::string>{"Ada Lovelace"});
    ASSERT_TRUE(book->save());
    EXPECT_FALSE(book->hasUnsavedChanges());

    auto again = NSDK_TBXABAddressBook::addressBook();
    EXPECT_EQ(names(again->people()), (std::vector<std::string>{"Ada Lovelace", "Alan Turing"}));
    auto reread = again->personForId(ada->recordID());
    ASSERT_TRUE(reread);
    EXPECT_TRUE(reread->isEqual(again->personForId(ada->recordID()).get()));
    EXPECT_FALSE(reread->isEqual(ada.get()));  // another address book, another record
    EXPECT_EQ(reread->description(),
              ns::format("NSDK_TBXABPerson Ada Lovelace %d", ada->recordID()));
    auto storedGroup = again->groupForId(group->recordID());
    ASSERT_TRUE(storedGroup);
    EXPECT_EQ(storedGroup->description(),
              ns::format("NSDK_TBXABGroup Pioneers %d", group->recordID()));
    EXPECT_EQ(names(storedGroup->members()), std::vector<std::string>{"Ada Lovelace"});
    EXPECT_EQ(again->personForId(group->recordID()), nullptr);  // a group is no person
    EXPECT_EQ(std::get<std::shared_ptr<NSDK_TBXABMultiValue>>(
                  *reread->valueForProperty(kABPersonPhoneProperty))
                  ->valueAtIndex(0),
              ns::Value("555-1"));

    EXPECT_TRUE(again->removeRecord(reread));
    EXPECT_FALSE(again->removeRecord(reread));
    EXPECT_TRUE(storedGroup->members().empty());

    AddressBook::setAccessGranted(false);
    EXPECT_EQ(NSDK_TBXABAddressBook::addressBook(), nullptr);
}

TEST_F(AddressBookTest, PersonImagesMustBeImages) {
    auto person = std::make_shared<NSDK_TBXABPerson>();
    EXPECT_FALSE(person->setImageData(ns::Data::fromString("not an image")));
    auto context = ui::GraphicsContext::beginImageContext({3, 2}, false, 1);
    context->fillRect({0, 0, 3, 2}, ui::Color::redColor());
    EXPECT_TRUE(person->setImage(context->makeImage()));
    ASSERT_TRUE(person->image());
    EXPECT_EQ(person->image()->size(), (ui::Size{3, 2}));
    EXPECT_TRUE(person->setImageData(std::nullopt));
    EXPECT_EQ(person->image(), nullptr);
}

TEST_F(AddressBookTest, LabelsAndPropertyNames) {
    EXPECT_EQ(NSDK_TBXABAddressBook::localizedLabel(kABHomeLabel), "home");
    EXPECT_EQ(NSDK_TBXABAddressBook::localizedLabel(kABPersonPhoneMobileLabel), "mobile");
    EXPECT_EQ(NSDK_TBXABAddressBook::localizedLabel("Boat"), "Boat");
    EXPECT_EQ(NSDK_TBXABPerson::typeOfProperty(kABPersonEmailProperty), kABMultiStringPropertyType);
    EXPECT_EQ(NSDK_TBXABPerson::localizedPropertyName(kABPersonFirstNameProperty), "First");
    EXPECT_EQ(NSDK_TBXABPerson::compositeNameFormat(), 0);
}

}  // namespace
