#include "platform/gtk/WebKitGtkGuardedMessage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::string_view kSecret = "s3cr3t";
constexpr size_t kPadding = 4;

TEST(WebKitGtkGuardedMessage, ReadsTheFrameFactsAndTheBodyWhereTheyStand) {
    const std::string text = "s3cr3tTapp://localhost/index.html\n[\"a\",\"b\"]    ";
    const auto message = WebKitGtkGuardedMessage::read(text, kSecret, kPadding);
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->topFrame);
    EXPECT_EQ(message->address, "app://localhost/index.html");
    EXPECT_EQ(message->body, "[\"a\",\"b\"]");
    // Read in place: the body's padding follows it inside the text.
    EXPECT_EQ(message->body.data() + message->body.size() + kPadding, text.data() + text.size());

    // A sub-frame; spaces beyond the padding belong to the body.
    const auto sub =
        WebKitGtkGuardedMessage::read("s3cr3tFabout:blank\n1       ", kSecret, kPadding);
    ASSERT_TRUE(sub);
    EXPECT_FALSE(sub->topFrame);
    EXPECT_EQ(sub->address, "about:blank");
    EXPECT_EQ(sub->body, "1   ");
}

// Strings that are not the guard's (a page posting around it, a cut message) are refused, so
// that they go the way of every other posted value.
TEST(WebKitGtkGuardedMessage, RefusesWhatTheGuardDidNotSend) {
    const std::string refused[] = {
        "",
        "s3cr3",                   // a part of the secret
        "S3CR3TTapp://x\n1    ",   // another secret
        "xs3cr3tTapp://x\n1    ",  // the secret not at the start
        "s3cr3t",                  // no flag
        "s3cr3tXapp://x\n1    ",   // no such flag
        "s3cr3tTapp://x 1    ",    // no line break
        "s3cr3tTapp://x\n1   ",    // padding cut short
        "s3cr3tTapp://x\n1  x ",   // padding that is not white space
        "s3cr3tTapp://x\n1   \t",
    };
    for (const std::string& text : refused) {
        EXPECT_FALSE(WebKitGtkGuardedMessage::read(text, kSecret, kPadding)) << text;
    }
    // Without a secret nothing passes for the guard.
    EXPECT_FALSE(WebKitGtkGuardedMessage::read("Tapp://x\n1    ", "", kPadding));
}

}  // namespace
