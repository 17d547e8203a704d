#pragma once

#include <memory>
#include <string>
#include <vector>

// Serialises the changes to one local path: a write (cut, then append), a truncation, a copy
// or move onto it, a creation. Paths are compared after resolving symbolic links and "." and
// "..", so two file systems over one folder share their locks. A thread may take a path it
// already holds (a write's cut and append run under the write's own lock).
class HYBFileLocks {
public:
    class Guard {
    public:
        Guard() = default;
        Guard(Guard&&) noexcept = default;
        Guard& operator=(Guard&&) noexcept = default;
        ~Guard();

        struct Held;

    private:
        friend class HYBFileLocks;
        std::vector<std::shared_ptr<Held>> held_;
    };

    // Waits until this thread holds every path. Several paths are taken in one order, so two
    // callers with crossing pairs cannot wait for each other.
    static Guard lock(std::vector<std::string> paths);

    // The form a path is compared in.
    static std::string key(const std::string& path);
    // How many threads hold the path or wait for it: what shows that a change waits its turn.
    static int users(const std::string& path);
};
