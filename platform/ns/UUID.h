#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ns {

// A universally unique identifier: 16 bytes, random (version 4) unless parsed from text.
class UUID {
public:
    using Bytes = std::array<uint8_t, 16>;

    // A new random identifier from the kernel's random source.
    UUID();
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}
    // Parses "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", letters in either case.
    static std::optional<UUID> fromString(std::string_view text);

    const Bytes& bytes() const { return bytes_; }
    // Upper-case hexadecimal in groups of 8-4-4-4-12.
    std::string UUIDString() const;
    std::string description() const { return UUIDString(); }

    bool operator==(const UUID&) const = default;

private:
    Bytes bytes_{};
};

}  // namespace ns
