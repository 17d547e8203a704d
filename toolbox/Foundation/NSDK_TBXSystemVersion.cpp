#include "toolbox/Foundation/NSDK_TBXSystemVersion.h"

#include <sys/utsname.h>

#include <cctype>
#include <optional>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/Value.h"
#include "platform/ui/Device.h"

namespace {

struct Facts {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t bugFix = 0;
    std::optional<std::string> build;
};

// Constant-initialised, so usable from any static initialiser.
dispatch::Mutex factsMutex;

std::optional<Facts>& loadedFacts() REQUIRES(factsMutex) {
    static std::optional<Facts> facts;
    return facts;
}

std::optional<std::string> kernelRelease() {
    utsname names{};
    if (uname(&names) != 0 || names.release[0] == '\0') return std::nullopt;
    return std::string(names.release);
}

// The leading "digits.digits[.digits]" of a kernel release; nothing without a minor part.
std::optional<std::string> versionPrefix(std::string_view release) {
    size_t end = 0;
    int dots = 0;
    while (end < release.size()) {
        char c = release[end];
        if (c == '.' && dots < 2 && end > 0 &&
            std::isdigit(static_cast<unsigned char>(release[end - 1]))) {
            ++dots;
        } else if (!std::isdigit(static_cast<unsigned char>(c))) {
            break;
        }
        ++end;
    }
    std::string_view prefix = release.substr(0, end);
    if (prefix.ends_with('.')) prefix.remove_suffix(1);
    if (prefix.find('.') == std::string_view::npos) return std::nullopt;
    return std::string(prefix);
}

// Two or three parts with a major version other than 0; nothing otherwise.
std::optional<Facts> parseVersion(std::string_view version) {
    auto parts = ns::componentsSeparatedByCharacter(version, '.');
    if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
    Facts facts;
    facts.major = ns::Value(parts[0]).intValue();
    if (facts.major == 0) return std::nullopt;
    facts.minor = ns::Value(parts[1]).intValue();
    if (parts.size() == 3) facts.bugFix = ns::Value(parts[2]).intValue();
    return facts;
}

Facts readFacts() {
    std::optional<std::string> release = kernelRelease();
    std::optional<Facts> facts = parseVersion(ui::Device::current().systemVersion());
    if (!facts && release) {
        if (auto prefix = versionPrefix(*release)) facts = parseVersion(*prefix);
    }
    if (!facts) {
        throw ns::Exception(
            ns::kInternalInconsistencyException,
            ns::format("Unparseable version %@", ui::Device::current().systemVersion()));
    }
    facts->build = release;
    return *facts;
}

// A copy: reload() may clear the kept facts while a caller still reads them.
Facts facts() {
    dispatch::Lock lock(factsMutex);
    auto& loaded = loadedFacts();
    if (!loaded) loaded = readFacts();
    return *loaded;
}

}  // namespace

void NSDK_TBXSystemVersion::getMajor(int32_t* major, int32_t* minor, int32_t* bugFix) {
    const Facts known = facts();
    if (major) *major = known.major;
    if (minor) *minor = known.minor;
    if (bugFix) *bugFix = known.bugFix;
}

std::string NSDK_TBXSystemVersion::build() {
    const Facts known = facts();
    if (!known.build) {
        throw ns::Exception(ns::kInternalInconsistencyException, "Unable to get build version");
    }
    return *known.build;
}

int NSDK_TBXSystemVersion::compareBuilds(std::string_view a, std::string_view b) {
    auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) ++endA;
            while (endB < b.size() && isDigit(b[endB])) ++endB;
            // Leading zeros do not change a number's value.
            std::string_view numA = a.substr(i, endA - i);
            std::string_view numB = b.substr(j, endB - j);
            while (numA.size() > 1 && numA.front() == '0') numA.remove_prefix(1);
            while (numB.size() > 1 && numB.front() == '0') numB.remove_prefix(1);
            if (numA.size() != numB.size()) return numA.size() < numB.size() ? -1 : 1;
            if (int c = numA.compare(numB); c != 0) return c < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[j]));
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool NSDK_TBXSystemVersion::isSystemVersionAtLeast(std::string_view version) {
    return compareBuilds(ui::Device::current().systemVersion(), version) >= 0;
}

bool NSDK_TBXSystemVersion::isBuildLessThan(std::string_view other) {
    return compareBuilds(build(), other) < 0;
}

bool NSDK_TBXSystemVersion::isBuildLessThanOrEqualTo(std::string_view other) {
    return compareBuilds(build(), other) <= 0;
}

bool NSDK_TBXSystemVersion::isBuildGreaterThan(std::string_view other) {
    return compareBuilds(build(), other) > 0;
}

bool NSDK_TBXSystemVersion::isBuildGreaterThanOrEqualTo(std::string_view other) {
    return compareBuilds(build(), other) >= 0;
}

bool NSDK_TBXSystemVersion::isBuildEqualTo(std::string_view other) {
    return compareBuilds(build(), other) == 0;
}

void NSDK_TBXSystemVersion::reload() {
    dispatch::Lock lock(factsMutex);
    loadedFacts().reset();
}
