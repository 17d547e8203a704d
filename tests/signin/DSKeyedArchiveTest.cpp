#include <gtest/gtest.h>
#include <plist/plist.h>

#include <functional>
#include <limits>
#include <string_view>

#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"

namespace {

// A keyed archive written by hand: `objects` builds "$objects" after "$null"; the root is
// the object at `root`.
ns::Data handArchive(const std::function<void(plist_t objects)>& objects, uint64_t root = 1) {
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(top, "$version", plist_new_uint(100000));
    plist_t tops = plist_new_dict();
    plist_dict_set_item(tops, "root", plist_new_uid(root));
    plist_dict_set_item(top, "$top", tops);
    plist_t list = plist_new_array();
    plist_array_append_item(list, plist_new_string("$null"));
    objects(list);
    plist_dict_set_item(top, "$objects", list);
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(top, &out, &length);
    ns::Data data(out, length);
    free(out);
    plist_free(top);
    return data;
}

plist_t classNamed(const char* name) {
    plist_t c = plist_new_dict();
    plist_dict_set_item(c, "$classname", plist_new_string(name));
    plist_t chain = plist_new_array();
    plist_array_append_item(chain, plist_new_string(name));
    plist_dict_set_item(c, "$classes", chain);
    return c;
}

// An array object at index 1 whose members are the given references; its class at index 2.
void arrayOf(plist_t list, std::vector<uint64_t> refs) {
    plist_t a = plist_new_dict();
    plist_t members = plist_new_array();
    for (uint64_t r : refs) plist_array_append_item(members, plist_new_uid(r));
    plist_dict_set_item(a, "NS.objects", members);
    plist_dict_set_item(a, "$class", plist_new_uid(2));
    plist_array_append_item(list, a);
    plist_array_append_item(list, classNamed("NSArray"));
}

const std::set<std::string>& foundation() {
    return DSKeyedUnarchiver::foundationClasses();
}

TEST(DSKeyedArchiveTest, GraphRoundTripsWithObjectKeysAndSharedObjects) {
    auto shared = std::make_shared<DSArchiveObject>("Thing");
    shared->set("name", DSArchiveValue::text("n"));
    shared->set("flag", DSArchiveValue::boolean(true));
    shared->set("absent", DSArchiveValue());
    DSArchiveValue::Pairs pairs;
    pairs.emplace_back(DSArchiveValue::object(shared), DSArchiveValue::integer(-7));
    pairs.emplace_back(
        DSArchiveValue::text("list"),
        DSArchiveValue::array(
            {DSArchiveValue::object(shared), DSArchiveValue::null(), DSArchiveValue::real(1.5),
             DSArchiveValue::date(ns::Date::fromTimeIntervalSince1970(1e9)),
             DSArchiveValue::data(ns::Data::fromString("b"))},
            false));
    auto blob =
        DSKeyedArchiver::archivedDataWithRootObject(DSArchiveValue::dictionary(pairs, true));
    ASSERT_TRUE(blob);
    std::set<std::string> allowed = foundation();
    allowed.insert("Thing");
    auto back = DSKeyedUnarchiver::unarchive(*blob, allowed);
    ASSERT_TRUE(back) << back.error().description();
    ASSERT_TRUE(back->pairs());
    EXPECT_TRUE(back->isMutable());
    const auto& [key, value] = back->pairs()->at(0);
    ASSERT_TRUE(key.objectOf("Thing"));
    EXPECT_EQ(key.objectValue()->text("name"), "n");
    EXPECT_TRUE(key.objectValue()->boolean("flag"));
    EXPECT_TRUE(key.objectValue()->field("absent")->isNil());
    EXPECT_EQ(value.integerValue(), -7);
    const auto* list = back->member("list")->arrayValue();
    ASSERT_EQ(list->size(), 5u);
    EXPECT_FALSE(back->member("list")->isMutable());
    EXPECT_EQ((*list)[1].kind(), DSArchiveValue::Kind::Null);
    EXPECT_EQ((*list)[2].realValue(), 1.5);
    EXPECT_EQ((*list)[3].dateValue()->timeIntervalSince1970(), 1e9);
    EXPECT_EQ(*(*list)[4].dataValue(), ns::Data::fromString("b"));
    // The shared object is written once: one "Thing" instance among the objects.
    plist_t top = nullptr;
    plist_from_bin(blob->chars().data(), static_cast<uint32_t>(blob->length()), &top);
    plist_t objects = plist_dict_get_item(top, "$objects");
    int things = 0;
    for (uint32_t i = 0; i < plist_array_get_size(objects); ++i) {
        plist_t o = plist_array_get_item(objects, i);
        if (plist_get_node_type(o) == PLIST_DICT && plist_dict_get_item(o, "name")) ++things;
    }
    plist_free(top);
    EXPECT_EQ(things, 1);
}

TEST(DSKeyedArchiveTest, RefusesWhatASecureDecoderMustNotAccept) {
    struct Case {
        const char* name;
        ns::Data data;
    } cases[] = {
        {"unknown class", handArchive([](plist_t list) {
             plist_t o = plist_new_dict();
             plist_dict_set_item(o, "$class", plist_new_uid(2));
             plist_array_append_item(list, o);
             plist_array_append_item(list, classNamed("Intruder"));
         })},
        {"object containing itself", handArchive([](plist_t list) { arrayOf(list, {1}); })},
        {"reference outside objects", handArchive([](plist_t list) { arrayOf(list, {99}); })},
        {"root outside objects", handArchive([](plist_t list) { arrayOf(list, {}); }, 7)},
        {"class reference to nothing", handArchive([](plist_t list) {
             plist_t o = plist_new_dict();
             plist_dict_set_item(o, "$class", plist_new_uid(0));
             plist_array_append_item(list, o);
         })},
        {"dictionary with uneven members", handArchive([](plist_t list) {
             plist_t d = plist_new_dict();
             plist_t keys = plist_new_array();
             plist_array_append_item(keys, plist_new_uid(0));
             plist_dict_set_item(d, "NS.keys", keys);
             plist_dict_set_item(d, "NS.objects", plist_new_array());
             plist_dict_set_item(d, "$class", plist_new_uid(2));
             plist_array_append_item(list, d);
             plist_array_append_item(list, classNamed("NSDictionary"));
         })},
        {"not an archive", ns::Data::fromString("bplist00garbage")},
        {"empty", ns::Data()},
    };
    for (const Case& c : cases) {
        auto result = DSKeyedUnarchiver::unarchive(c.data, foundation());
        EXPECT_FALSE(result) << c.name;
    }
}

TEST(DSKeyedArchiveTest, RefusesDeepNestingAndExponentialSharing) {
    // A chain of arrays deeper than the limit.
    ns::Data deep = handArchive([](plist_t list) {
        for (uint64_t i = 1; i <= DSKeyedUnarchiver::kMaxDepth + 5; ++i) {
            plist_t a = plist_new_dict();
            plist_t members = plist_new_array();
            plist_array_append_item(members, plist_new_uid(i + 1));
            plist_dict_set_item(a, "NS.objects", members);
            plist_dict_set_item(a, "$class", plist_new_uid(DSKeyedUnarchiver::kMaxDepth + 7));
            plist_array_append_item(list, a);
        }
        plist_array_append_item(list, plist_new_string("leaf"));
        plist_array_append_item(list, classNamed("NSArray"));
    });
    EXPECT_FALSE(DSKeyedUnarchiver::unarchive(deep, foundation()));
    // Forty levels of arrays holding the next level twice: 2^40 paths in a small archive.
    constexpr uint64_t kLevels = 40;
    ns::Data bomb = handArchive([](plist_t list) {
        for (uint64_t i = 1; i <= kLevels; ++i) {
            plist_t a = plist_new_dict();
            plist_t members = plist_new_array();
            plist_array_append_item(members, plist_new_uid(i + 1));
            plist_array_append_item(members, plist_new_uid(i + 1));
            plist_dict_set_item(a, "NS.objects", members);
            plist_dict_set_item(a, "$class", plist_new_uid(kLevels + 2));
            plist_array_append_item(list, a);
        }
        plist_array_append_item(list, plist_new_string("leaf"));
        plist_array_append_item(list, classNamed("NSArray"));
    });
    EXPECT_FALSE(DSKeyedUnarchiver::unarchive(bomb, foundation()));
    ns::Data huge;
    huge.mutableVector().assign(DSKeyedUnarchiver::kMaxArchiveBytes + 1, 'x');
    EXPECT_FALSE(DSKeyedUnarchiver::unarchive(huge, foundation()));
}

}  // namespace

namespace {

TEST(DSKeyedArchiveTest, TextTheFormatCannotCarryFailsTheWholeArchive) {
    // Written as is, both would come back as other text: cut at the NUL, or unreadable.
    EXPECT_FALSE(DSKeyedArchiver::archivedDataWithRootObject(
        DSArchiveValue::text(std::string("tok\0en", 6))));
    auto object = std::make_shared<DSArchiveObject>("Thing");
    object->set("bad\xff", DSArchiveValue::integer(1));
    EXPECT_FALSE(DSKeyedArchiver::archivedDataWithRootObject(DSArchiveValue::object(object)));
}

}  // namespace

namespace {

// Archives whose root is an integer, as another implementation writes them: 2^63 takes the
// 16-byte form, which the decoder's int64 values cannot hold, so the archive is refused rather
// than read as a negative number.
TEST(DSKeyedArchiveTest, IntegersBeyondInt64AreRefused) {
    auto bytes = [](std::string_view hex) {
        ns::Data data;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            data.mutableVector().push_back(
                static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
        return data;
    };
    const ns::Data twoToThe63 = bytes(
        "62706c6973743030d4010203040506090c5924617263686976657258246f626a656374735424746f"
        "70582476657273696f6e5f100f4e534b657965644172636869766572a2070855246e756c6c140000"
        "0000000000008000000000000000d10a0b54726f6f74800112000186a008111b24293244474d5e61"
        "66680000000000000101000000000000000d0000000000000000000000000000006d");
    const ns::Data int64Max = bytes(
        "62706c6973743030d4010203040506090c5924617263686976657258246f626a656374735424746f"
        "70582476657273696f6e5f100f4e534b657965644172636869766572a2070855246e756c6c137fff"
        "ffffffffffffd10a0b54726f6f74800112000186a008111b24293244474d56595e60000000000000"
        "0101000000000000000d00000000000000000000000000000065");
    EXPECT_FALSE(DSKeyedUnarchiver::unarchive(twoToThe63, foundation()));
    auto max = DSKeyedUnarchiver::unarchive(int64Max, foundation());
    ASSERT_TRUE(max.ok()) << max.error().description();
    EXPECT_EQ(max->integerValue(), std::numeric_limits<int64_t>::max());
}

}  // namespace
