#include "tests/sdk/analytics/FullDiskVfs.h"

namespace analyticstest {

std::atomic<bool> FullDiskVfs::full_{false};

}  // namespace analyticstest
