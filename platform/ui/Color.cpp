#include "platform/ui/Color.h"

#include <cctype>
#include <filesystem>
#include <map>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"

namespace ui {
namespace {

struct Registry {
    dispatch::Mutex mutex;
    std::map<std::string, Color, std::less<>> colors GUARDED_BY(mutex);
};

Registry& registry() {
    static Registry r;
    return r;
}

// Scans like the platform's text scanner: leading white space skipped, an optional "0x",
// then hexadecimal digits; a value beyond 32 bits saturates. No digit leaves the value 0.
uint32_t scanHex32(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (text.size() - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
    }
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int d = ns::hexDigitValue(text[i]);
        if (d < 0) break;
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<Color> Color::fromConstructorName(std::string_view name) {
    static const std::map<std::string_view, Color (*)()> constructors = {
        {"blackColor", &Color::blackColor},         {"darkGrayColor", &Color::darkGrayColor},
        {"lightGrayColor", &Color::lightGrayColor}, {"whiteColor", &Color::whiteColor},
        {"grayColor", &Color::grayColor},           {"redColor", &Color::redColor},
        {"greenColor", &Color::greenColor},         {"blueColor", &Color::blueColor},
        {"cyanColor", &Color::cyanColor},           {"yellowColor", &Color::yellowColor},
        {"magentaColor", &Color::magentaColor},     {"orangeColor", &Color::orangeColor},
        {"purpleColor", &Color::purpleColor},       {"brownColor", &Color::brownColor},
        {"clearColor", &Color::clearColor},
    };
    auto it = constructors.find(name);
    if (it == constructors.end()) return std::nullopt;
    return it->second();
}

std::optional<Color> Color::named(std::string_view name) {
    {
        auto& r = registry();
        dispatch::Lock lock(r.mutex);
        auto it = r.colors.find(name);
        if (it != r.colors.end()) return it->second;
    }
    auto bundle = ns::Bundle::mainBundle();
    const auto path = bundle ? bundle->pathForResource(name, kAssetExtension) : std::nullopt;
    if (!path) return std::nullopt;
    std::error_code error;
    const auto size = std::filesystem::file_size(*path, error);
    if (error || size > kMaxAssetSize) {
        ns::nslog("The colour asset %@ cannot be read.", *path);
        return std::nullopt;
    }
    auto data = ns::FileManager::defaultManager().contentsAtPath(*path);
    auto color = data.ok() ? fromAssetDescription(*data) : std::nullopt;
    if (!color) ns::nslog("The colour asset %@ is not a colour.", *path);
    return color;
}

std::optional<Color> Color::fromAssetDescription(const ns::Data& description) {
    auto read = ns::JSONSerialization::read(
        std::string_view(reinterpret_cast<const char*>(description.bytes()), description.length()));
    if (!read || !read->isDictionary()) return std::nullopt;
    const ns::Value& value = *read;
    double components[4] = {0, 0, 0, 1};
    const char* keys[4] = {"red", "green", "blue", "alpha"};
    for (size_t i = 0; i < 4; ++i) {
        const ns::Value* component = value.find(keys[i]);
        if (!component) {
            if (i < 3) return std::nullopt;
            continue;
        }
        if (!component->isNumber()) return std::nullopt;
        const double number = component->doubleValue();
        if (!(number >= 0.0 && number <= 1.0)) return std::nullopt;
        components[i] = number;
    }
    return Color{components[0], components[1], components[2], components[3]};
}

void Color::registerNamed(std::string name, Color color) {
    auto& r = registry();
    dispatch::Lock lock(r.mutex);
    r.colors[std::move(name)] = color;
}

void Color::removeAllNamed() {
    auto& r = registry();
    dispatch::Lock lock(r.mutex);
    r.colors.clear();
}

Color Color::fromRGB(uint32_t rgb) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
}

Color Color::fromARGB(uint32_t argb) {
    return fromRGB(argb).withAlpha(((argb >> 24) & 0xFF) / 255.0);
}

Color Color::fromHexString(std::string_view text) {
    return fromRGB(text.empty() ? 0 : scanHex32(text.substr(1)));
}

}  // namespace ui
