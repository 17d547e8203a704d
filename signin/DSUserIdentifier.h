#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "signin/DSUserInformation.h"

enum DSUserIdentifierType : int32_t {
    UniqueId = 0,
    OptionalDisplayableId = 1,
    RequiredDisplayableId = 2,
};

// Which user a request is for, and how strictly a token's user must match.
class DSUserIdentifier {
public:
    static std::shared_ptr<const DSUserIdentifier> identifierWithId(
        const std::optional<std::string>& userId);
    static std::shared_ptr<const DSUserIdentifier> identifierWithId(
        const std::optional<std::string>& userId, int32_t type);
    static int32_t typeFromString(const std::optional<std::string>& type);
    static std::string stringForType(int32_t type);

    const std::optional<std::string>& userId() const { return userId_; }
    int32_t type() const { return type_; }
    std::string typeAsString() const { return stringForType(type_); }
    bool isDisplayable() const {
        return type_ == OptionalDisplayableId || type_ == RequiredDisplayableId;
    }
    std::optional<std::string> userIdMatchString(const DSUserInformation& info) const;
    static bool identifierMatchesInfo(const DSUserIdentifier* identifier,
                                      const DSUserInformation* info);

private:
    DSUserIdentifier(std::optional<std::string> userId, int32_t type)
        : userId_(std::move(userId)), type_(type) {}

    std::optional<std::string> userId_;
    int32_t type_;
};
