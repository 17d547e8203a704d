#include "signin/DSUserIdentifier.h"

#include "platform/ns/Format.h"
#include "signin/DSLogger.h"

std::shared_ptr<const DSUserIdentifier> DSUserIdentifier::identifierWithId(
    const std::optional<std::string>& userId) {
    return identifierWithId(userId, RequiredDisplayableId);
}

std::shared_ptr<const DSUserIdentifier> DSUserIdentifier::identifierWithId(
    const std::optional<std::string>& userId, int32_t type) {
    return std::shared_ptr<const DSUserIdentifier>(
        new DSUserIdentifier(DSUserInformation::normalizeUserId(userId), type));
}

int32_t DSUserIdentifier::typeFromString(const std::optional<std::string>& type) {
    if (!type) return RequiredDisplayableId;
    if (*type == "UniqueId") return UniqueId;
    if (*type == "OptionalDisplayableId") return OptionalDisplayableId;
    if (*type == "RequiredDisplayableId") return RequiredDisplayableId;
    DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr, ns::format("Did not recognize type \"%@\"", *type),
                  -1, std::nullopt, std::nullopt);
    return RequiredDisplayableId;
}

std::string DSUserIdentifier::stringForType(int32_t type) {
    switch (type) {
        case UniqueId:
            return "UniqueId";
        case OptionalDisplayableId:
            return "OptionalDisplayableId";
        case RequiredDisplayableId:
            return "RequiredDisplayableId";
        default:
            return "Unknown";
    }
}

std::optional<std::string> DSUserIdentifier::userIdMatchString(
    const DSUserInformation& info) const {
    switch (type_) {
        case RequiredDisplayableId:
            return info.userId();
        case UniqueId:
            return info.uniqueId();
        case OptionalDisplayableId:
            return std::nullopt;
        default:
            DSLogger::log(DS_LOG_LEVEL_ERROR, nullptr,
                          ns::format("Unrecognized type on identifier match: %d", type_), -1,
                          std::nullopt, std::nullopt);
            return std::nullopt;
    }
}

bool DSUserIdentifier::identifierMatchesInfo(const DSUserIdentifier* identifier,
                                             const DSUserInformation* info) {
    if (!identifier) return true;
    if (identifier->type_ == OptionalDisplayableId) return true;
    if (!info) return false;
    const std::optional<std::string> match = identifier->userIdMatchString(*info);
    if (!match) return true;
    return match == identifier->userId_;
}
