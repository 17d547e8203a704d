#pragma once

#include <filesystem>

namespace apptest {

// A copy of the fixture bundle in `folder`, with the page-side bridge script of the example
// bundle, of which there is one copy in the tree.
inline std::filesystem::path fixtureBundleIn(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    const fs::path root(HYB_SOURCE_DIR);
    const fs::path bundle = folder / "bundle";
    fs::copy(root / "tests/fixtures/bundle", bundle, fs::copy_options::recursive);
    fs::copy_file(root / "examples/bundle/www/hybrid.js", bundle / "www/hybrid.js");
    return bundle;
}

}  // namespace apptest
