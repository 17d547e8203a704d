#include "platform/av/PhotoAsset.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/MimeType.h"

namespace av {
namespace {

std::string extensionOf(const std::string& name) {
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

PhotoAsset::PhotoAsset(std::string identifier, std::string path, std::string album, ns::Date date,
                       uint64_t size)
    : identifier_(std::move(identifier)),
      path_(std::move(path)),
      album_(std::move(album)),
      date_(date),
      size_(size) {
    auto slash = path_.find_last_of('/');
    fileName_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

ns::URL PhotoAsset::assetURL() const {
    std::string ext = extensionOf(fileName_);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // Extensions are letters and digits in practice; anything else would not make a URL.
    bool plain =
        std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
    if (!plain) ext.clear();
    auto url = ns::URL::parse("assets-library://asset/asset." + ext + "?id=" + identifier_ +
                              "&ext=" + ext);
    return *url;
}

std::string PhotoAsset::mimeType() const {
    return ns::MimeType::forExtensionOrDefault(extensionOf(fileName_));
}

ns::Result<ns::Data> PhotoAsset::getBytes(uint64_t offset, uint64_t length) const {
    FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) return ns::posixError(errno, path_);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return ns::posixError(errno, path_);
    if (!S_ISREG(st.st_mode)) return ns::posixError(EINVAL, path_);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (offset >= size) return ns::Data();
    const uint64_t count = std::min(length, size - offset);
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pread(fd.get(), bytes.data() + done, bytes.size() - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ns::posixError(errno, path_);
        if (n == 0) break;  // the file shrank since it was measured
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return ns::Data(std::move(bytes));
}

}  // namespace av
