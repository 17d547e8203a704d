#include "platform/ns/TemporaryFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/ns/AtomicFile.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"

namespace ns {
namespace {

constexpr std::string_view kTag = ".tmp-";
constexpr size_t kSuffixLength = 6;
constexpr size_t kMaxNameBytes = 200;
constexpr std::string_view kSuffixLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Deeper folders than this are not searched: nothing the host writes lies so deep.
constexpr int kMaxDepth = 64;

std::string randomSuffix() {
    unsigned char bytes[kSuffixLength];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<uint64_t> counter{0};
        uint64_t seed = (static_cast<uint64_t>(::getpid()) << 24) ^ ++counter;
        for (auto& b : bytes) b = static_cast<unsigned char>(seed >>= 5);
    }
    std::string out;
    for (unsigned char b : bytes) out += kSuffixLetters[b % kSuffixLetters.size()];
    return out;
}

bool isSuffixLetter(char c) {
    return kSuffixLetters.find(c) != std::string_view::npos;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

size_t removeBelow(int directory, int depth) {
    if (depth > kMaxDepth) return 0;
    const int listing = ::dup(directory);
    if (listing < 0) return 0;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listing));
    if (!dir) {
        ::close(listing);
        return 0;
    }
    std::vector<std::string> matches;
    std::vector<std::string> folders;
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (TemporaryFiles::isTemporaryName(name)) {
            matches.emplace_back(name);
        } else if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN) {
            folders.emplace_back(name);
        }
    }
    size_t removed = 0;
    for (const auto& name : matches) {
        if (FileManager::defaultManager().removeItem({directory, name, name})) ++removed;
    }
    for (const auto& name : folders) {
        FileDescriptor child(
            ::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (child) removed += removeBelow(child.get(), depth + 1);
    }
    return removed;
}

}  // namespace

std::string TemporaryFiles::nameFor(std::string_view fileName) {
    return "." + std::string(fileName.substr(0, kMaxNameBytes)) + std::string(kTag) +
           randomSuffix();
}

Result<TemporaryFiles::Created> TemporaryFiles::create(int directory, std::string_view fileName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = nameFor(fileName);
        if (FileManager::consumeFault("open")) return posixError(errno, std::string(fileName));
        FileDescriptor fd(::openat(directory, name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd) return Created{std::move(fd), std::move(name)};
        if (errno != EEXIST) return posixError(errno, std::string(fileName));
    }
    return posixError(EEXIST, std::string(fileName));
}

bool TemporaryFiles::isTemporaryName(std::string_view name) {
    // "." + at least one byte of the name + ".tmp-" + six letters or digits.
    if (name.size() < 1 + 1 + kTag.size() + kSuffixLength || name.front() != '.') return false;
    const auto suffix = name.substr(name.size() - kSuffixLength);
    const auto tag = name.substr(name.size() - kSuffixLength - kTag.size(), kTag.size());
    if (tag != kTag) return false;
    for (char c : suffix) {
        if (!isSuffixLetter(c)) return false;
    }
    return true;
}

size_t TemporaryFiles::removeStale(const std::string& root) {
    FileDescriptor dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return 0;
    const size_t removed = removeBelow(dir.get(), 0);
    if (removed > 0) {
        Log::write(LogLevel::Info, "Removed " + std::to_string(removed) +
                                       " temporary file(s) that unfinished writes left in " + root);
    }
    return removed;
}

}  // namespace ns
