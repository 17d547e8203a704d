#pragma once

#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace mediatest {

// What another local process may do while the page reads a file: keep exchanging a folder
// with a link to somewhere else, from a thread of its own, until it goes.
class FolderSwapper {
public:
    // `folder` and `link` (a symbolic link to the other place) trade places over and over.
    FolderSwapper(std::filesystem::path folder, std::filesystem::path link)
        : thread_([this, folder = std::move(folder), link = std::move(link)] {
              while (!stop_) {
                  if (::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(),
                                  RENAME_EXCHANGE) == 0) {
                      ++swaps_;
                  }
              }
          }) {}
    ~FolderSwapper() {
        stop_ = true;
        thread_.join();
    }
    FolderSwapper(const FolderSwapper&) = delete;
    FolderSwapper& operator=(const FolderSwapper&) = delete;

    int swaps() const { return swaps_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> swaps_{0};
    std::thread thread_;
};

}  // namespace mediatest
