#include "platform/ns/Exception.h"

#include "platform/ns/Value.h"

namespace ns {

Exception::Exception(std::string name, std::string reason, Dictionary userInfo)
    : name_(std::move(name)),
      reason_(std::move(reason)),
      userInfo_(std::make_shared<const Dictionary>(std::move(userInfo))) {}

const Dictionary& Exception::userInfo() const {
    static const Dictionary empty;
    return userInfo_ ? *userInfo_ : empty;
}

}  // namespace ns
