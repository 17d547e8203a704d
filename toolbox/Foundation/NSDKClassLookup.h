#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/rt/Class.h"

// Run-time look-ups that prefer the SDK's own prefixed copy of a class or protocol: each asks
// the class registry for "NSDK_" + name first and answers that when it exists, else the name
// as given; nothing when neither is known. The prefix always goes in front of the whole name,
// even one that already begins with "NSDK_". Any thread.
//
// The registry has no lazy class handler, so the two class look-ups answer alike; both are
// kept because callers name the one they mean.

inline constexpr std::string_view kNSDKClassPrefix = "NSDK_";

// A class by its NUL-terminated UTF-8 name, without calling a class handler.
const rt::Class* NSDKLookUpClass(const char* name);
// A class by its NUL-terminated UTF-8 name.
const rt::Class* NSDKGetClass(const char* name);
// A protocol by its NUL-terminated UTF-8 name: the name found, or nothing.
std::optional<std::string> NSDKGetProtocol(const char* name);
// A class by its name; nothing for no name.
const rt::Class* NSDKClassFromString(const std::optional<std::string>& name);
