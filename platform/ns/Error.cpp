#include "platform/ns/Error.h"

namespace ns {

std::string Error::localizedDescription() const {
    const auto it = userInfo_.find(std::string_view(kLocalizedDescriptionKey));
    if (it != userInfo_.end()) {
        if (const std::string* s = it->second.string()) return *s;
    }
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " +
           std::to_string(code_) + ".)";
}

std::string Error::description() const {
    std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                      localizedDescription() + "\"";
    if (userInfo_.empty()) return out;
    out.append(" UserInfo={");
    bool first = true;
    for (const auto& [key, value] : userInfo_) {
        if (!first) out.append(", ");
        first = false;
        out.append(key).append("=").append(value.description());
    }
    out.push_back('}');
    return out;
}

Error cocoaError(int64_t code, std::string debugDescription) {
    Dictionary info{{kDebugDescriptionErrorKey, Value(std::move(debugDescription))}};
    if (code == kPropertyListReadCorruptError) {
        info.emplace(kLocalizedDescriptionKey,
                     "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
    } else if (code == kPropertyListWriteInvalidError) {
        info.emplace(kLocalizedDescriptionKey,
                     "The data couldn\u2019t be written because it isn\u2019t in the correct "
                     "format.");
    }
    return Error(kCocoaErrorDomain, code, std::move(info));
}

}  // namespace ns
