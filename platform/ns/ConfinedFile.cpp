#include "platform/ns/ConfinedFile.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <limits>
#include <optional>

#include "platform/ns/Sandbox.h"

namespace ns {
namespace {

// As many links as the kernel follows in one resolution.
constexpr int kMaxLinks = 40;

std::vector<std::string> componentsOf(std::string_view path) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string_view::npos) slash = path.size();
        const auto part = path.substr(i, slash - i);
        if (!part.empty() && part != ".") out.emplace_back(part);
        i = slash + 1;
    }
    return out;
}

std::string canonicalSpelling(const std::string& path) {
    std::error_code ec;
    auto resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved.string();
}

int openAt(int directory, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::openat(directory, name, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool isLink(int directory, const std::string& name) {
    struct stat st;
    return ::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

FileAccess accessOf(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) ? FileAccess::Write : FileAccess::Read;
}

// The area whose components begin the path's, the longest of them; null when none does.
const ConfinedFile::Area* bestArea(const std::vector<ConfinedFile::Area>& areas,
                                   const std::vector<std::string>& components) {
    const ConfinedFile::Area* best = nullptr;
    for (const auto& area : areas) {
        if (area.components.size() > components.size()) continue;
        if (!std::equal(area.components.begin(), area.components.end(), components.begin())) {
            continue;
        }
        if (!best || area.components.size() > best->components.size()) best = &area;
    }
    return best;
}

}  // namespace

// One resolution of a path beneath the areas: the folders walked so far, each held open, and
// the components still to go.
class ConfinedResolution {
public:
    ConfinedResolution(const ConfinedFile& confinement) : areas_(confinement.areas_) {}

    // Starts at the area that the absolute path (as components) names, as the areas are spelt
    // or, failing that, as the kernel spells them; false with errno set when it names none.
    bool start(const std::vector<std::string>& components) {
        const ConfinedFile::Area* best = bestArea(areas_, components);
        if (!best) {
            if (canonicalAreas_.empty()) {
                for (const auto& area : areas_) {
                    const std::string canonical = canonicalSpelling(area.path);
                    canonicalAreas_.push_back({componentsOf(canonical), canonical});
                }
            }
            best = bestArea(canonicalAreas_, components);
        }
        if (!best) {
            errno = EXDEV;
            return false;
        }
        FileDescriptor anchor(openAt(AT_FDCWD, best->path.c_str(), O_PATH | O_DIRECTORY));
        if (!anchor) return false;
        stack_.clear();
        stack_.push_back(std::move(anchor));
        rest_.assign(components.begin() + static_cast<std::ptrdiff_t>(best->components.size()),
                     components.end());
        return true;
    }

    int current() const { return stack_.back().get(); }
    bool atEnd() const { return rest_.empty(); }
    const std::string& last() const { return rest_.front(); }
    // Follows the last component, a link: its target is resolved in its place, up to its own
    // last component. False with errno set.
    bool followLast() {
        const std::string name = std::move(rest_.front());
        rest_.pop_front();
        return expandLink(name) && walkToLast();
    }

    // The components left (all, or all but the last), joined: what openat2 resolves beneath
    // the area in one call.
    std::string restJoined(bool withoutLast = false) const {
        std::string out;
        const size_t count = rest_.size() - (withoutLast && !rest_.empty() ? 1 : 0);
        for (size_t i = 0; i < count; ++i) out += (out.empty() ? "" : "/") + rest_[i];
        return out.empty() ? "." : out;
    }
    // The last of the components left, when it names an entry (not "..").
    bool endsInName() const { return !rest_.empty() && rest_.back() != ".."; }
    const std::string& lastOfAll() const { return rest_.back(); }
    int anchor() const { return stack_.front().get(); }

    // Walks every component but the last; false with errno set on failure.
    bool walkToLast() {
        while (rest_.size() > 1 || (rest_.size() == 1 && rest_.front() == "..")) {
            std::string name = std::move(rest_.front());
            rest_.pop_front();
            if (!step(name)) return false;
        }
        return true;
    }

    // `name` in the current folder is a link: its target takes its place. False with errno set.
    bool expandLink(const std::string& name) {
        if (++links_ > kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        FileDescriptor link(openAt(current(), name.c_str(), O_PATH | O_NOFOLLOW));
        if (!link) return false;
        struct stat st;
        if (::fstat(link.get(), &st) != 0) return false;
        if (!S_ISLNK(st.st_mode)) {
            // Replaced since it was looked at: look at it again.
            rest_.push_front(name);
            return true;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(link.get(), "", target.data(), target.size());
        if (n < 0) return false;
        if (n == 0 || static_cast<size_t>(n) >= target.size()) {
            errno = n == 0 ? ENOENT : ENAMETOOLONG;
            return false;
        }
        target.resize(static_cast<size_t>(n));
        auto parts = componentsOf(target);
        if (target.front() == '/') {
            std::deque<std::string> after = std::move(rest_);
            if (!start(parts)) return false;
            rest_.insert(rest_.end(), after.begin(), after.end());
        } else {
            rest_.insert(rest_.begin(), parts.begin(), parts.end());
        }
        return true;
    }

private:
    bool step(const std::string& name) {
        if (name == "..") {
            if (stack_.size() == 1) {
                errno = EXDEV;
                return false;
            }
            stack_.pop_back();
            return true;
        }
        FileDescriptor next(openAt(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW));
        if (next) {
            stack_.push_back(std::move(next));
            return true;
        }
        const int failure = errno;
        if ((failure == ENOTDIR || failure == ELOOP) && isLink(current(), name)) {
            return expandLink(name);
        }
        errno = failure;
        return false;
    }

    const std::vector<ConfinedFile::Area>& areas_;
    std::vector<ConfinedFile::Area> canonicalAreas_;  // made when first needed
    std::vector<FileDescriptor> stack_;
    std::deque<std::string> rest_;
    int links_ = 0;
};

namespace {

// openat2 beneath the area: the whole rest in one call. Nothing when the kernel cannot do it
// or when the path needs what only the walk does (a link to another area); errno is then the
// walk's business.
std::optional<int> openBeneath(const ConfinedResolution& resolution, int flags, mode_t mode,
                               bool parent = false) {
    if (FileManager::consumeFault("openat2")) return std::nullopt;
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const std::string rest = resolution.restJoined(parent);
    long fd;
    do fd = ::syscall(SYS_openat2, resolution.anchor(), rest.c_str(), &how, sizeof how);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) return static_cast<int>(fd);
    switch (errno) {
        case EXDEV:   // a link to somewhere else, maybe another area
        case ELOOP:   // a link where links are refused, maybe the last component itself
        case EAGAIN:  // a rename raced the resolution
        case ENOSYS:
        case EPERM:  // a filter that refuses the call
            return std::nullopt;
        default:
            return -1;
    }
}

// The folder of the last component, opened beneath the area in one call; nothing when the walk
// must do it.
std::optional<FileDescriptor> openParentBeneath(const ConfinedResolution& resolution) {
    if (!resolution.endsInName()) return std::nullopt;
    auto fd = openBeneath(resolution, O_RDONLY | O_DIRECTORY, 0, true);
    if (!fd) return std::nullopt;
    return FileDescriptor(*fd);
}

}  // namespace

ConfinedFile::ConfinedFile(std::vector<std::string> areas) {
    for (auto& path : areas) {
        if (path.empty() || path.front() != '/') continue;
        areas_.push_back({componentsOf(path), std::move(path)});
    }
}

ConfinedFile ConfinedFile::forReading() {
    return ConfinedFile(Sandbox::readableFolders());
}

ConfinedFile ConfinedFile::forWriting() {
    return ConfinedFile({Sandbox::homeDirectory()});
}

Result<FileDescriptor> ConfinedFile::openForReading(const std::string& path) {
    return forReading().open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

namespace {

// Starts the resolution at the path's area: as spelt, else with its links resolved.
bool startAt(ConfinedResolution& resolution, const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    if (resolution.start(componentsOf(path))) return true;
    if (errno != EXDEV) return false;
    return resolution.start(componentsOf(canonicalSpelling(path)));
}

}  // namespace

Result<FileDescriptor> ConfinedFile::open(const std::string& path, int flags, mode_t mode) const {
    const FileAccess access = accessOf(flags);
    auto fail = [&] { return FileManager::errorForErrno(errno ? errno : EIO, access, path); };
    if (FileManager::consumeFault("open")) return fail();
    ConfinedResolution resolution(*this);
    if (!startAt(resolution, path)) return fail();
    if (auto fd = openBeneath(resolution, flags, mode)) {
        if (*fd < 0) return fail();
        return FileDescriptor(*fd);
    }
    if (!resolution.walkToLast()) return fail();
    while (true) {
        if (resolution.atEnd()) {
            // The path ends at a folder (the area itself, or after a "..").
            FileDescriptor fd(openAt(resolution.current(), ".",
                                     flags & ~(O_CREAT | O_EXCL | O_NOFOLLOW | O_TRUNC)));
            if (!fd) return fail();
            return fd;
        }
        const std::string& name = resolution.last();
        FileDescriptor fd(openAt(resolution.current(), name.c_str(), flags | O_NOFOLLOW, mode));
        if (fd) return fd;
        const int failure = errno;
        if ((flags & O_NOFOLLOW) || (failure != ELOOP && failure != ENOTDIR) ||
            !isLink(resolution.current(), name)) {
            errno = failure;
            return fail();
        }
        if (!resolution.followLast()) return fail();
    }
}

Result<ConfinedFile::Entry> ConfinedFile::openParent(const std::string& path, bool followLast,
                                                     FileAccess access) const {
    auto fail = [&] { return FileManager::errorForErrno(errno ? errno : EIO, access, path); };
    ConfinedResolution resolution(*this);
    if (!startAt(resolution, path)) return fail();
    if (auto directory = openParentBeneath(resolution)) {
        if (!*directory) return fail();
        if (!followLast || !isLink(directory->get(), resolution.lastOfAll())) {
            return Entry{std::move(*directory), resolution.lastOfAll(), path};
        }
    }
    if (!resolution.walkToLast()) return fail();
    while (true) {
        if (resolution.atEnd()) {
            // An area itself, or a path ending in "..": no entry of a folder beneath an area.
            errno = EINVAL;
            return fail();
        }
        if (followLast && isLink(resolution.current(), resolution.last())) {
            if (!resolution.followLast()) return fail();
            continue;
        }
        FileDescriptor directory(openAt(resolution.current(), ".", O_RDONLY | O_DIRECTORY));
        if (!directory) return fail();
        return Entry{std::move(directory), resolution.last(), path};
    }
}

}  // namespace ns
