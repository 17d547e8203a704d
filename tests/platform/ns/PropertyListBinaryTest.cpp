// The binary property list read from bytes written by hand (or by an independent writer, where
// the bytes say so), and what our writer makes of what was read.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ns/PropertyListSerialization.h"

namespace {

using ns::PropertyListSerialization;
using Format = ns::PropertyListSerialization::Format;
using ns::Value;

const std::string kFFFD = "\xEF\xBF\xBD";

std::string bigEndian(uint64_t v, size_t width) {
    std::string out;
    for (size_t i = width; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A binary property list of the given encoded objects, the first one on top, with one-byte
// offsets and references.
std::string handWritten(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::string offsets;
    for (const std::string& object : objects) {
        offsets += static_cast<char>(out.size());
        out += object;
    }
    const size_t table = out.size();
    out += offsets;
    out += std::string(6, '\0') + '\x01' + '\x01';
    return out + bigEndian(objects.size(), 8) + bigEndian(0, 8) + bigEndian(table, 8);
}

std::string fromHex(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

ns::Result<Value> read(const std::string& bytes) {
    return PropertyListSerialization::read(ns::Data::fromString(bytes));
}

std::string writtenBinary(const Value& value) {
    auto written = PropertyListSerialization::write(value, Format::Binary);
    EXPECT_TRUE(written.ok()) << written.error().description();
    return written.ok() ? std::string(written->chars()) : std::string();
}

// Dates are seconds since 2001 in the file, and stay those very bits when read and written
// back, however small or however many digits they hold.
TEST(PropertyListBinary, DatesKeepTheBitsTheFileHolds) {
    const double stored[] = {0.1, 1e-300, -5e-324, 700000000.0 + 1.0 / 3};
    std::vector<std::string> objects = {"\xA4\x01\x02\x03\x04"};
    for (double t : stored) objects.push_back("\x33" + bigEndian(std::bit_cast<uint64_t>(t), 8));
    auto dates = read(handWritten(objects));
    ASSERT_TRUE(dates.ok()) << dates.error().description();
    ASSERT_EQ(dates->count(), 4u);
    const std::string again = writtenBinary(*dates);
    for (size_t i = 0; i < 4; ++i) {
        const ns::Date* date = dates->at(i).date();
        ASSERT_TRUE(date);
        EXPECT_EQ(std::bit_cast<uint64_t>(date->timeIntervalSinceReferenceDate()),
                  std::bit_cast<uint64_t>(stored[i]))
            << stored[i];
        EXPECT_NE(again.find(objects[i + 1]), std::string::npos) << stored[i];
    }
    EXPECT_EQ(*read(again), *dates);
}

// A keyed archive's UIDs read as {"CF$UID": n} and are written back as the UIDs they were, in
// their narrowest width; any other dictionary stays a dictionary.
TEST(PropertyListBinary, UIDsAreWrittenBackAsUIDs) {
    auto uids = read(handWritten(
        {"\xA4\x01\x02\x03\x04", std::string("\x80\x05", 2), std::string("\x81\x01\x00", 3),
         std::string("\x83\x00\x01\x00\x00", 5), "\x87" + std::string(8, '\xFF')}));
    ASSERT_TRUE(uids.ok()) << uids.error().description();
    EXPECT_EQ(*uids, Value::array({Value::dict({{"CF$UID", 5}}), Value::dict({{"CF$UID", 256}}),
                                   Value::dict({{"CF$UID", 65536}}),
                                   Value::dict({{"CF$UID", 18446744073709551615ULL}})}));
    const std::string again = writtenBinary(*uids);
    EXPECT_EQ(again.find("CF$UID"), std::string::npos);
    for (const std::string& uid : {std::string("\x80\x05", 2), std::string("\x81\x01\x00", 3),
                                   std::string("\x83\x00\x01\x00\x00", 5)}) {
        EXPECT_NE(again.find(uid), std::string::npos);
    }
    EXPECT_EQ(*read(again), *uids);

    for (const Value& plain :
         {Value::dict({{"CF$UID", -1}}), Value::dict({{"CF$UID", 1.0}}),
          Value::dict({{"CF$UID", "1"}}), Value::dict({{"CF$UID", 1}, {"x", 1}})}) {
        const std::string written = writtenBinary(plain);
        EXPECT_NE(written.find("CF$UID"), std::string::npos) << plain.description();
        EXPECT_EQ(*read(written), plain);
    }
}

// Shared objects build a copy for each reference: a small file that shares a row is read, one
// whose references double at each level is refused, and what the writer writes reads back
// even where it repeats a long string many times.
TEST(PropertyListBinary, WhatSharedObjectsBuildIsBoundedByTheFile) {
    // [[0] * 40] * 40 as Python's plistlib writes it: 131 bytes, one row shared 40 times.
    const std::string shared = fromHex(
        "62706c6973743030af1028010101010101010101010101010101010101010101"
        "01010101010101010101010101010101010101af102802020202020202020202"
        "0202020202020202020202020202020202020202020202020202020202021000"
        "08335e0000000000000101000000000000000300000000000000000000000000"
        "000060");
    ASSERT_EQ(shared.size(), 131u);
    auto rows = read(shared);
    ASSERT_TRUE(rows.ok()) << rows.error().description();
    EXPECT_EQ(*rows, Value(ns::Array(40, Value(ns::Array(40, Value(0))))));

    // Object i holds object i + 1 twice: 2^60 copies of the last one from a few hundred bytes.
    std::vector<std::string> doubling;
    for (int i = 1; i < 60; ++i) doubling.push_back(std::string("\xA2") + char(i) + char(i));
    doubling.push_back(std::string("\x10\x00", 2));
    auto bomb = read(handWritten(doubling));
    ASSERT_FALSE(bomb.ok());
    EXPECT_EQ(bomb.error().code(), 3840);

    const Value repeated = Value(ns::Array(8192, Value(std::string(4096, 'x'))));
    const std::string written = writtenBinary(repeated);
    auto back = read(written);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(*back, repeated);
}

TEST(PropertyListBinary, TextPastTheObjectsIsRefusedAndIllFormedTextRepaired) {
    // Four UTF-16 units, with room for the first two and a half only.
    auto cut = read(handWritten({"\x64" + std::string("\0a\0b\0", 5)}));
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error().code(), 3840);
    auto whole = read(handWritten({"\x64" + std::string("\0a\0b\0c\0d", 8)}));
    ASSERT_TRUE(whole.ok()) << whole.error().description();
    EXPECT_EQ(*whole, Value("abcd"));

    // Bytes that are no UTF-8 in text marked as one byte a character: one U+FFFD for each
    // ill-formed part, a cut four-byte sequence being one.
    auto repaired =
        read(handWritten({"\x56"
                          "a\xF0\x9F\x98"
                          "b\xC0"}));
    ASSERT_TRUE(repaired.ok()) << repaired.error().description();
    EXPECT_EQ(*repaired, Value("a" + kFFFD + "b" + kFFFD));
}

}  // namespace
