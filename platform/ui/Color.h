#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ns {
class Data;
}  // namespace ns

namespace ui {

// An RGBA colour with components from 0 to 1 (the platform's colour object).
class Color {
public:
    constexpr Color() = default;
    constexpr Color(double red, double green, double blue, double alpha = 1.0)
        : red_(red), green_(green), blue_(blue), alpha_(alpha) {}
    static Color white(double white, double alpha = 1.0) { return {white, white, white, alpha}; }

    // The colour class's argument-less constructors.
    static Color blackColor() { return {0, 0, 0}; }
    static Color darkGrayColor() { return white(1.0 / 3); }
    static Color lightGrayColor() { return white(2.0 / 3); }
    static Color whiteColor() { return {1, 1, 1}; }
    static Color grayColor() { return white(0.5); }
    static Color redColor() { return {1, 0, 0}; }
    static Color greenColor() { return {0, 1, 0}; }
    static Color blueColor() { return {0, 0, 1}; }
    static Color cyanColor() { return {0, 1, 1}; }
    static Color yellowColor() { return {1, 1, 0}; }
    static Color magentaColor() { return {1, 0, 1}; }
    static Color orangeColor() { return {1, 0.5, 0}; }
    static Color purpleColor() { return {0.5, 0, 0.5}; }
    static Color brownColor() { return {0.6, 0.4, 0.2}; }
    static Color clearColor() { return {0, 0, 0, 0}; }

    // The colour that the constructor of that name gives ("redColor"), as callers that pick a
    // colour by name at run time need; nullopt when the colour class has no such constructor.
    static std::optional<Color> fromConstructorName(std::string_view name);

    // The application's named colour asset ("BackgroundColor"): one registered under the name,
    // else the main bundle's "<name>.color.json" (see fromAssetDescription()); nullopt when
    // there is none or it is not a colour (which is logged).
    static std::optional<Color> named(std::string_view name);
    static constexpr const char* kAssetExtension = "color.json";
    static constexpr size_t kMaxAssetSize = 64 * 1024;
    // A colour asset: {"red": R, "green": G, "blue": B, "alpha": A}, each a number from 0 to 1;
    // alpha may be left out (1). Anything else is nullopt.
    static std::optional<Color> fromAssetDescription(const ns::Data& description);
    static void registerNamed(std::string name, Color color);
    static void removeAllNamed();

    // Bits 16-23 red, 8-15 green, 0-7 blue, alpha 1.
    static Color fromRGB(uint32_t rgb);
    // Bits 24-31 alpha, then red, green and blue.
    static Color fromARGB(uint32_t argb);
    // A "#RRGGBB" string: the first character is skipped whatever it is and the rest scanned as
    // an unsigned hexadecimal number from 0, up to the first character that is not a digit;
    // text that does not scan gives black. Alpha is always 1.
    static Color fromHexString(std::string_view text);

    double red() const { return red_; }
    double green() const { return green_; }
    double blue() const { return blue_; }
    double alpha() const { return alpha_; }
    Color withAlpha(double alpha) const { return {red_, green_, blue_, alpha}; }

    bool operator==(const Color&) const = default;

private:
    double red_ = 0;
    double green_ = 0;
    double blue_ = 0;
    double alpha_ = 0;
};

}  // namespace ui
