#include <gtest/gtest.h>
#include <plist/plist.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string_view>
#include <thread>

#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "tests/support/ChildProcess.h"

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

namespace {

// A binary property list written byte for byte: each object as raw bytes, one-byte
// references, a two-byte offset table. Lets a test place exactly one fault in a file.
struct RawPlist {
    std::vector<std::string> objects;

    uint8_t add(std::string bytes) {
        objects.push_back(std::move(bytes));
        return static_cast<uint8_t>(objects.size() - 1);
    }

    ns::Data bytes(uint8_t top) const {
        std::string out = "bplist00";
        std::vector<size_t> offsets;
        for (const std::string& o : objects) {
            offsets.push_back(out.size());
            out += o;
        }
        const size_t table = out.size();
        for (size_t at : offsets) {
            out += static_cast<char>(at >> 8);
            out += static_cast<char>(at & 0xFF);
        }
        std::string trailer(32, '\0');
        trailer[6] = 2;  // offset size
        trailer[7] = 1;  // reference size
        trailer[15] = static_cast<char>(objects.size());
        trailer[23] = static_cast<char>(top);
        trailer[30] = static_cast<char>(table >> 8);
        trailer[31] = static_cast<char>(table & 0xFF);
        return ns::Data::fromString(out + trailer);
    }
};

std::string ascii(std::string_view text) {
    return std::string(1, static_cast<char>(0x50 | text.size())) + std::string(text);
}
std::string uid(uint8_t n) {
    return std::string("\x80", 1) + static_cast<char>(n);
}
std::string refs(uint8_t marker, const std::vector<uint8_t>& members) {
    std::string out(1, static_cast<char>(marker | members.size()));
    for (uint8_t m : members) out += static_cast<char>(m);
    return out;
}
std::string dict(const std::vector<uint8_t>& keys, const std::vector<uint8_t>& values) {
    std::string out = refs(0xD0, keys);
    for (uint8_t v : values) out += static_cast<char>(v);
    return out;
}

// What may differ between the variants of one small archive: an array (the root) holding one
// text, and the array's class.
struct RawParts {
    std::string objectsMarker = "\xA0";  // of "$objects": an array
    std::string rootUid = uid(1);
    std::string arrayMarker = "\xA0";  // of the root's "NS.objects"
    std::string leaf = ascii("leaf");
    std::string classKey = ascii("$classes");
    std::string extraClass;  // a further member of "$classes", which nothing decodes
};

ns::Data rawArchive(const RawParts& parts) {
    // "$objects": 0 "$null", 1 the array, 2 the leaf, 3 the array's class.
    RawPlist p;
    const uint8_t top = p.add("");  // written last, once its members have their places
    const uint8_t null = p.add(ascii("$null"));
    const uint8_t leaf = p.add(parts.leaf);
    const uint8_t leafUid = p.add(uid(2));
    const uint8_t members = p.add(refs(static_cast<uint8_t>(parts.arrayMarker[0]), {leafUid}));
    const uint8_t classKey = p.add(ascii("$class"));
    const uint8_t nsObjects = p.add(ascii("NS.objects"));
    const uint8_t classUid = p.add(uid(3));
    const uint8_t array = p.add(dict({nsObjects, classKey}, {members, classUid}));
    std::vector<uint8_t> chain = {p.add(ascii("NSArray")), p.add(ascii("NSObject"))};
    if (!parts.extraClass.empty()) chain.push_back(p.add(parts.extraClass));
    const uint8_t classes = p.add(refs(0xA0, chain));
    const uint8_t className = p.add(ascii("$classname"));
    const uint8_t classesKey = p.add(parts.classKey);
    const uint8_t arrayClass = p.add(dict({className, classesKey}, {chain[0], classes}));
    const uint8_t list =
        p.add(refs(static_cast<uint8_t>(parts.objectsMarker[0]), {null, array, leaf, arrayClass}));
    const uint8_t rootKey = p.add(ascii("root"));
    const uint8_t rootUid = p.add(parts.rootUid);
    const uint8_t roots = p.add(dict({rootKey}, {rootUid}));
    const std::vector<uint8_t> keys = {p.add(ascii("$archiver")), p.add(ascii("$version")),
                                       p.add(ascii("$objects")), p.add(ascii("$top"))};
    const uint8_t archiver = p.add("\x5F\x10\x0FNSKeyedArchiver");
    const uint8_t version = p.add(std::string("\x12\x00\x01\x86\xA0", 5));
    p.objects[top] = dict(keys, {archiver, version, list, roots});
    return p.bytes(top);
}

// Each variant differs from the plain archive in one object. A fault anywhere in the file
// refuses it, also in objects that decoding the root never reads (the class's "$classes").
TEST(DSKeyedArchiveTest, OneFaultAnywhereInTheFileRefusesTheArchive) {
    auto plain = DSKeyedUnarchiver::unarchive(rawArchive({}), foundation());
    ASSERT_TRUE(plain.ok()) << plain.error().description();
    ASSERT_TRUE(plain->arrayValue());
    ASSERT_EQ(plain->arrayValue()->size(), 1u);
    EXPECT_EQ(*plain->arrayValue()->at(0).string(), "leaf");

    struct Case {
        const char* name;
        RawParts parts;
    };
    auto with = [](auto change) {
        RawParts parts;
        change(parts);
        return parts;
    };
    const Case refused[] = {
        {"integer beyond int64 nobody reads", with([](RawParts& p) {
             p.extraClass = "\x14" + std::string(7, '\0') + "\x01" + std::string(8, '\0');
         })},
        {"reference past the object table",
         with([](RawParts& p) { p.extraClass = refs(0xA0, {0xF0}); })},
        {"ordered set", with([](RawParts& p) { p.extraClass = refs(0xB0, {0}); })},
        {"unknown object kind", with([](RawParts& p) { p.extraClass = "\x70"; })},
        {"null object", with([](RawParts& p) { p.extraClass = std::string(1, '\0'); })},
        {"UID beyond 32 bits",
         with([](RawParts& p) { p.extraClass = std::string("\x84\x01\x00\x00\x00\x00", 6); })},
        {"real of two bytes",
         with([](RawParts& p) { p.extraClass = std::string("\x21\x00\x00", 3); })},
        {"count that is no integer", with([](RawParts& p) { p.extraClass = "\x5F\x51x"; })},
        {"text running past the objects",
         with([](RawParts& p) { p.extraClass = "\x5F\x11\xFF\xFF"; })},
        {"key holding a NUL",
         with([](RawParts& p) { p.classKey = ascii(std::string_view("$clas\0es", 8)); })},
        {"key that is no string",
         with([](RawParts& p) { p.classKey = std::string("\x10\x07", 2); })},
        {"empty two-byte text", with([](RawParts& p) { p.leaf = "\x60"; })},
        {"array holding the top object", with([](RawParts& p) { p.extraClass = refs(0xA0, {0}); })},
    };
    for (const Case& c : refused) {
        ns::Data bytes = rawArchive(c.parts);
        EXPECT_FALSE(DSKeyedUnarchiver::unarchive(bytes, foundation()).ok()) << c.name;
    }

    // Forms another writer may use, read as they always were.
    const Case accepted[] = {
        {"members in a set", with([](RawParts& p) { p.arrayMarker = "\xC0"; })},
        {"objects in a set", with([](RawParts& p) { p.objectsMarker = "\xC0"; })},
        {"root UID in sixteen bytes",
         with([](RawParts& p) { p.rootUid = "\x8F" + std::string(15, '\0') + "\x01"; })},
        {"leaf in two-byte text", with([](RawParts& p) {
             p.leaf = std::string(
                 "\x64\x00l\x00"
                 "e\x00"
                 "a\x00"
                 "f",
                 9);
         })},
    };
    for (const Case& c : accepted) {
        auto value = DSKeyedUnarchiver::unarchive(rawArchive(c.parts), foundation());
        ASSERT_TRUE(value.ok()) << c.name << ": " << value.error().description();
        ASSERT_TRUE(value->arrayValue()) << c.name;
        EXPECT_EQ(*value->arrayValue()->at(0).string(), "leaf") << c.name;
    }
}

}  // namespace

namespace {

// Archives of several hundred objects take two-byte references, and a long token wider
// offsets and counts; integers take every width the format has.
TEST(DSKeyedArchiveTest, WideArchivesReadBackEveryValue) {
    std::vector<DSArchiveValue> items;
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) texts.push_back("text " + std::to_string(i));
    texts.push_back("");
    texts.push_back("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    texts.push_back(std::string(15, 'a'));
    texts.push_back(std::string(70000, 't'));
    for (const std::string& t : texts) items.push_back(DSArchiveValue::text(t));
    const int64_t integers[] = {0,
                                127,
                                255,
                                256,
                                65535,
                                65536,
                                int64_t{1} << 31,
                                int64_t{1} << 32,
                                -1,
                                std::numeric_limits<int64_t>::min(),
                                std::numeric_limits<int64_t>::max()};
    for (int64_t i : integers) items.push_back(DSArchiveValue::integer(i));
    items.push_back(DSArchiveValue::real(-2.5e300));
    items.push_back(DSArchiveValue::boolean(false));
    auto blob = DSKeyedArchiver::archivedDataWithRootObject(DSArchiveValue::array(items, true));
    ASSERT_TRUE(blob);
    auto back = DSKeyedUnarchiver::unarchive(*blob, foundation());
    ASSERT_TRUE(back.ok()) << back.error().description();
    const auto* list = back->arrayValue();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), items.size());
    size_t at = 0;
    for (const std::string& t : texts) {
        ASSERT_TRUE((*list)[at].string()) << at;
        EXPECT_EQ(*(*list)[at++].string(), t);
    }
    for (int64_t i : integers) {
        EXPECT_EQ((*list)[at].kind(), DSArchiveValue::Kind::Integer) << i;
        EXPECT_EQ((*list)[at++].integerValue(), i);
    }
    EXPECT_EQ((*list)[at++].realValue(), -2.5e300);
    EXPECT_EQ((*list)[at].kind(), DSArchiveValue::Kind::Bool);
    EXPECT_FALSE((*list)[at].boolValue());
}

// Texts, bytes and dates wrapped in their own classes, as another writer stores them; a date
// whose time is an integer; fields held in place rather than by reference.
TEST(DSKeyedArchiveTest, WrappedValuesAndFieldsInPlaceRead) {
    ns::Data blob = handArchive([](plist_t list) {
        plist_t object = plist_new_dict();
        plist_dict_set_item(object, "$class", plist_new_uid(2));
        plist_dict_set_item(object, "string", plist_new_uid(3));
        plist_dict_set_item(object, "bytes", plist_new_uid(5));
        plist_dict_set_item(object, "when", plist_new_uid(7));
        plist_dict_set_item(object, "count", plist_new_uint(42));
        plist_dict_set_item(object, "label", plist_new_string("\xC3\xA9t\xC3\xA9"));
        plist_dict_set_item(object, "ratio", plist_new_real(0.25));
        plist_array_append_item(list, object);
        plist_array_append_item(list, classNamed("Thing"));
        plist_t string = plist_new_dict();
        plist_dict_set_item(string, "NS.string", plist_new_string("\xE2\x82\xAC 1"));
        plist_dict_set_item(string, "$class", plist_new_uid(4));
        plist_array_append_item(list, string);
        plist_array_append_item(list, classNamed("NSMutableString"));
        plist_t bytes = plist_new_dict();
        plist_dict_set_item(bytes, "NS.data", plist_new_data("\x00\x01", 2));
        plist_dict_set_item(bytes, "$class", plist_new_uid(6));
        plist_array_append_item(list, bytes);
        plist_array_append_item(list, classNamed("NSData"));
        plist_t date = plist_new_dict();
        plist_dict_set_item(date, "NS.time", plist_new_uint(86400));
        plist_dict_set_item(date, "$class", plist_new_uid(8));
        plist_array_append_item(list, date);
        plist_array_append_item(list, classNamed("NSDate"));
    });
    std::set<std::string> allowed = foundation();
    allowed.insert("Thing");
    auto back = DSKeyedUnarchiver::unarchive(blob, allowed);
    ASSERT_TRUE(back.ok()) << back.error().description();
    const DSArchiveObject* thing = back->objectOf("Thing");
    ASSERT_TRUE(thing);
    EXPECT_EQ(thing->text("string"), "\xE2\x82\xAC 1");
    EXPECT_EQ(thing->data("bytes"), ns::Data("\x00\x01", 2));
    EXPECT_EQ(thing->date("when")->timeIntervalSinceReferenceDate(), 86400);
    EXPECT_EQ(thing->field("count")->integerValue(), 42);
    EXPECT_EQ(thing->text("label"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(thing->field("ratio")->realValue(), 0.25);
    EXPECT_EQ(thing->fields().size(), 6u);
}

}  // namespace

namespace {

// What another writer may store read whole: a date far from 2001 and below the microsecond,
// a lone surrogate (one replacement character, the rest kept) and a NUL inside text.
TEST(DSKeyedArchiveTest, OddTextAndFarDatesReadWhole) {
    auto leafOf = [](std::string leaf) {
        RawParts parts;
        parts.leaf = std::move(leaf);
        auto value = DSKeyedUnarchiver::unarchive(rawArchive(parts), foundation());
        EXPECT_TRUE(value.ok()) << value.error().description();
        return value.ok() && value->arrayValue() ? value->arrayValue()->at(0) : DSArchiveValue();
    };
    for (double seconds : {4.0e9 + 0.25, -3.5e9, 0x1p-20}) {
        std::string date = "\x33";
        const uint64_t bits = std::bit_cast<uint64_t>(seconds);
        for (int i = 7; i >= 0; --i) date += static_cast<char>(bits >> (8 * i));
        const DSArchiveValue value = leafOf(date);
        ASSERT_TRUE(value.dateValue()) << seconds;
        EXPECT_EQ(value.dateValue()->timeIntervalSinceReferenceDate(), seconds);
    }
    const DSArchiveValue lone = leafOf(std::string("\x63\x00x\xD8\x00\x00y", 7));
    ASSERT_TRUE(lone.string());
    EXPECT_EQ(*lone.string(), "x\xEF\xBF\xBDy");
    const DSArchiveValue nul = leafOf(std::string("\x53\x61\x00\x62", 4));
    ASSERT_TRUE(nul.string());
    EXPECT_EQ(*nul.string(), std::string("a\0b", 3));
}

}  // namespace

namespace {

// The child of TheClassListOutlivesTheProcessExit: a worker decodes archives against the
// class list without pause while the main thread ends the process with exit(), which runs
// the destructors of static objects. Ends with what exit() is given, unless the worker
// touched something destroyed under it (which a sanitizer build reports as a failure).
[[noreturn]] void decodeWhileExiting(int ready, const std::vector<std::string>&) {
    const ns::Data archive = DSKeyedArchiver::archivedDataWithRootObject(
                                 DSArchiveValue::fromValue(ns::Value::dict({{"a", "b"}})))
                                 .value();
    std::atomic<bool> started{false};
    std::thread([&archive, &started] {
        for (;;) {
            (void)DSKeyedUnarchiver::unarchive(archive, DSKeyedUnarchiver::foundationClasses());
            started.store(true);
        }
    }).detach();
    while (!started.load()) std::this_thread::yield();
    const char byte = 'r';
    if (::write(ready, &byte, 1) != 1) ::_exit(3);
    std::exit(0);
}
const testsupport::ChildRegistration kDecodeWhileExiting("DSKeyedArchiveTest.decodeWhileExiting",
                                                         &decodeWhileExiting);

}  // namespace

// Sign-in's caches decode archives on worker queues, which may still be running when the
// program exits.
TEST(DSKeyedArchiveTest, TheClassListOutlivesTheProcessExit) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = testsupport::startChild("DSKeyedArchiveTest.decodeWhileExiting", ready[1]);
    ASSERT_GT(child, 0);
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
