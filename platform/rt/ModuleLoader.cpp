#include "platform/rt/ModuleLoader.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "platform/ns/FileDescriptor.h"
#include "platform/ns/Log.h"
#include "platform/ns/SharedInstance.h"
#include "platform/rt/ClassRegistry.h"

namespace rt {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Shdr = ElfW(Shdr);

constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeData =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;

// Where `count` items of `size` bytes from `offset` end, or the largest value where that
// overflows: a header that promises as much is never met by a file.
uint64_t endOf(uint64_t offset, uint64_t count, uint64_t size = 1) {
    uint64_t bytes = 0;
    uint64_t end = 0;
    if (__builtin_mul_overflow(count, size, &bytes) || __builtin_add_overflow(offset, bytes, &end))
        return UINT64_MAX;
    return end;
}

template <class T>
bool readAt(int fd, uint64_t offset, std::span<T> items) {
    const ssize_t bytes = static_cast<ssize_t>(items.size_bytes());
    return ::pread(fd, items.data(), items.size_bytes(), static_cast<off_t>(offset)) == bytes;
}

// The system loader maps a module's segments from the file and reads them in place: a file
// shorter than its headers say (an install cut short, a disk that ran full) ends the process
// with SIGBUS as soon as a page past its end is touched, inside dlopen or at the first call.
// Why the module open on `fd` cannot be loaded, or nothing when every byte that its headers
// promise is there. A file that is not an ELF object of this machine's kind is left to dlopen,
// which refuses it from its header alone.
std::optional<std::string> problemWithModule(int fd) {
    struct stat file {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return "not a regular file";
    const auto size = static_cast<uint64_t>(file.st_size);
    Ehdr header{};
    if (size < sizeof header || !readAt(fd, 0, std::span(&header, 1)))
        return "the file is cut short (" + std::to_string(size) + " bytes, no ELF header)";
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeData ||
        header.e_phentsize != sizeof(Phdr) ||
        (header.e_shoff != 0 && header.e_shentsize != sizeof(Shdr))) {
        return std::nullopt;
    }
    const uint64_t sections = header.e_shoff != 0 ? header.e_shnum : 0;
    uint64_t promised = std::max(endOf(header.e_phoff, header.e_phnum, sizeof(Phdr)),
                                 endOf(header.e_shoff, sections, sizeof(Shdr)));
    if (promised <= size) {
        // The tables are in the file, which bounds what is read of them.
        std::vector<Phdr> segments(header.e_phnum);
        std::vector<Shdr> parts(sections);
        if (!readAt(fd, header.e_phoff, std::span(segments)) ||
            !readAt(fd, header.e_shoff, std::span(parts))) {
            return "its headers cannot be read";
        }
        for (const Phdr& segment : segments)
            promised = std::max(promised, endOf(segment.p_offset, segment.p_filesz));
        for (const Shdr& part : parts) {
            if (part.sh_type != SHT_NOBITS)
                promised = std::max(promised, endOf(part.sh_offset, part.sh_size));
        }
    }
    if (promised <= size) return std::nullopt;
    return "the file is cut short (" + std::to_string(size) + " bytes where its headers promise " +
           std::to_string(promised) + ")";
}

// Loads the module at `path` once it is checked; why it could not be, or nothing. It is loaded
// by its path, so that debuggers and the sanitizers' symbolizer, which open the modules by the
// names the system loader keeps, find it: a module replaced between the check and the load is
// an update renamed into place, whole.
std::optional<std::string> loadModule(const std::string& path) {
    {
        ns::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) return std::string(std::strerror(errno));
        if (auto problem = problemWithModule(fd.get())) return problem;
    }
    // Every symbol is bound now, so that a module that does not fit the program fails here
    // rather than at its first call; its own symbols stay out of the program's scope.
    if (::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr) {
        std::string why = ::dlerror();
        // The line names the module already.
        if (why.starts_with(path + ": ")) why.erase(0, path.size() + 2);
        return why;
    }
    return std::nullopt;
}

}  // namespace

ModuleLoader& ModuleLoader::shared() {
    return ns::SharedInstance<ModuleLoader>::get();
}

void ModuleLoader::provide(std::string className, std::string path) {
    dispatch::Lock lock(loadMutex_);
    modules_.insert_or_assign(std::move(className), std::move(path));
}

void ModuleLoader::announce(std::string className, Class::Factory factory) {
    dispatch::Lock lock(announcedMutex_);
    announced_.insert_or_assign(std::move(className), std::move(factory));
}

const Class* ModuleLoader::classNamed(std::string_view className) {
    ClassRegistry& registry = ClassRegistry::shared();
    if (const Class* found = registry.classNamed(className)) return found;
    Class::Factory factory = announced(className);
    if (!factory) {
        loadModuleOf(className);
        factory = announced(className);
        if (!factory) return nullptr;
    }
    // Another thread may register it first; either way the registry's class is the answer.
    registry.registerClass(std::string(className), std::nullopt, std::move(factory));
    return registry.classNamed(className);
}

Class::Factory ModuleLoader::announced(std::string_view className) {
    dispatch::Lock lock(announcedMutex_);
    const auto found = announced_.find(className);
    return found == announced_.end() ? nullptr : found->second;
}

void ModuleLoader::loadModuleOf(std::string_view className) {
    dispatch::Lock lock(loadMutex_);
    const auto module = modules_.find(className);
    if (module == modules_.end()) return;
    const std::string& path = module->second;
    if (!loaded_.contains(path)) {
        const std::optional<std::string> problem = loadModule(path);
        if (problem) ns::nslog("Cannot load the module %@: %@", path, *problem);
        loaded_[path] = !problem;
    }
    // What needs the class fails without it, every time it is asked for and in words of its
    // own: one line says where the fault is.
    if (loaded_[path] && !announced(className) && lacking_.emplace(className).second) {
        ns::nslog("The module %@ does not provide %@: what needs it is unavailable.", path,
                  std::string(className));
    }
}

}  // namespace rt
