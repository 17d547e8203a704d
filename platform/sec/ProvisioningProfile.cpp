#include "platform/sec/ProvisioningProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/PropertyListSerialization.h"

namespace sec {

std::optional<std::string> ProvisioningProfile::plistText(const ns::Data& profile) {
    std::string text(profile.chars());
    for (char& c : text) {
        if (static_cast<signed char>(c) < 1) c = '.';
    }
    const size_t start = text.find("<plist");
    if (start == std::string::npos) return std::nullopt;
    const size_t end = text.find("</plist>", start);
    std::string plist =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    plist += "</plist>";
    return plist;
}

ns::Value ProvisioningProfile::contents(const ns::Data& profile) {
    auto text = plistText(profile);
    if (!text) return {};
    auto parsed = ns::PropertyListSerialization::read(ns::Data::fromString(*text));
    if (!parsed.ok() || !parsed->dictionary()) return {};
    return std::move(*parsed);
}

std::optional<ns::Data> ProvisioningProfile::fileOfBundle(const std::string& bundlePath) {
    const std::string path = bundlePath + "/" + kFileName;
    ns::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT) return ns::Data();
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<uint64_t>(status.st_size) > kMaximumSize) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return ns::Data(std::move(bytes));
}

}  // namespace sec
