#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Facts about the running operating system, read once on first use: its version as major,
// minor and bug-fix numbers, its build text, and the run-time architecture's name.
//
// The version is the device's system version when that reads as a version, else the
// kernel's release ("6.1.0-18-amd64" reads as 6.1.0); the build is the kernel's release.
// So a Linux host always has at least "major.minor" and a build, and nothing fails at
// start-up. Any thread.
class NSDK_TBXSystemVersion {
public:
    // Writes each number through each non-null pointer.
    static void getMajor(int32_t* major, int32_t* minor, int32_t* bugFix);
    // Throws ns::Exception (NSInternalInconsistencyException) "Unable to get build version"
    // when there is none.
    static std::string build();

    // Comparisons of build() with `other`, ignoring case and comparing runs of digits as
    // numbers ("9A1" comes before "10A1").
    static bool isBuildLessThan(std::string_view other);
    static bool isBuildLessThanOrEqualTo(std::string_view other);
    static bool isBuildGreaterThan(std::string_view other);
    static bool isBuildGreaterThanOrEqualTo(std::string_view other);
    static bool isBuildEqualTo(std::string_view other);

    // -1, 0 or 1 as `a` comes before, equals or comes after `b` in that order.
    static int compareBuilds(std::string_view a, std::string_view b);
    // Whether the system version the device reports is `version` or later, in that order: what
    // a screen or plug-in asks before it uses what a system of that version has.
    static bool isSystemVersionAtLeast(std::string_view version);

    static std::string runtimeArchitecture() { return "iPhone"; }

    // Reads the version and build again (for a host that changes the device facts, and
    // tests).
    static void reload();
};
