#include "platform/rt/ModuleLoader.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>
#include <type_traits>

#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/View.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

class Greeter : public ns::Object {
public:
    std::string description() const override { return "linked greeter"; }
};

class ModuleLoaderTest : public ::testing::Test {
protected:
    ns::ScopedSharedInstance<rt::ModuleLoader> loader_;
    ns::ScopedSharedInstance<rt::ClassRegistry> registry_;
};

// A linked part's class is in the registry once asked for, whichever registry is current.
TEST_F(ModuleLoaderTest, AnnouncedClassEntersTheRegistryWhenFirstAskedFor) {
    auto& loader = rt::ModuleLoader::shared();
    loader.announce("Greeter", [] { return std::make_shared<Greeter>(); });
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("Greeter"), nullptr);
    const rt::Class* found = loader.classNamed("Greeter");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("Greeter"), found);
    auto greeter = loader.create<Greeter>("Greeter");
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->description(), "linked greeter");
    EXPECT_EQ(loader.create<ui::View>("Greeter"), nullptr);
    EXPECT_EQ(loader.create<Greeter>("Stranger"), nullptr);
}

// A module that is not there answers nothing, is reported once, and is not tried again.
TEST_F(ModuleLoaderTest, MissingModuleAnswersNothingAndIsReportedOnce) {
    testsupport::LogCapture log;
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("Absent", "/nonexistent/absent-module.so");
    EXPECT_EQ(loader.classNamed("Absent"), nullptr);
    EXPECT_EQ(loader.create<ns::Object>("Absent"), nullptr);
    EXPECT_EQ(log.count("Cannot load the module /nonexistent/absent-module.so"), 1u);
}

// A module that loads but lacks the class asked for (one of another build) is named once, with
// what it lacks; any library that announces nothing stands in for one here.
TEST_F(ModuleLoaderTest, ModuleWithoutTheClassIsNamedOnceWithTheClass) {
    Dl_info library{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&zlibVersion), &library), 0);
    testsupport::LogCapture log;
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("SECCryptoEngine", library.dli_fname);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(loader.create<ns::Object>("SECCryptoEngine"), nullptr);
    EXPECT_EQ(log.count(std::string("The module ") + library.dli_fname +
                        " does not provide SECCryptoEngine"),
              1u);
    EXPECT_EQ(log.count("Cannot load"), 0u);
}

// A module's classes arrive through the program's own loader and registry (scoped here): the
// module carries no copy of them.
TEST_F(ModuleLoaderTest, ModuleAnnouncesThroughTheProgramsOwnLoader) {
    auto& loader = rt::ModuleLoader::shared();
    loader.provide("LoadableGreeter", HYB_TEST_MODULE);
    auto greeter = loader.create<ns::Object>("LoadableGreeter");
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->description(), "greetings from a module");
    EXPECT_EQ(rt::ClassRegistry::shared().classNamed("LoadableGreeter"),
              loader.classNamed("LoadableGreeter"));
}

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Shdr = ElfW(Shdr);
using Sym = ElfW(Sym);

// The test module's bytes, whose headers a case alters before loading a copy.
struct ModuleImage {
    std::string bytes{
        std::istreambuf_iterator<char>(std::ifstream(HYB_TEST_MODULE, std::ios::binary).rdbuf()),
        {}};

    template <class T>
    T at(uint64_t offset) const {
        T item;
        std::memcpy(&item, bytes.data() + offset, sizeof item);
        return item;
    }
    // Edits the first header of its kind (the file's, a segment's, a section's) that `which`
    // picks.
    template <class T>
    void alter(bool (*which)(const T&), const std::function<void(T&)>& edit) {
        const auto file = at<Ehdr>(0);
        uint64_t table = 0, count = 1;
        if constexpr (std::is_same_v<T, Phdr>) table = file.e_phoff, count = file.e_phnum;
        if constexpr (std::is_same_v<T, Shdr>) table = file.e_shoff, count = file.e_shnum;
        for (uint64_t offset = table; offset < table + count * sizeof(T); offset += sizeof(T)) {
            T item = at<T>(offset);
            if (!which(item)) continue;
            edit(item);
            std::memcpy(bytes.data() + offset, &item, sizeof item);
            return;
        }
        ADD_FAILURE() << "the test module lacks the header a case alters";
    }
    // The module then needs of the program the symbols whose names begin with `prefix`, less
    // their first letter: names no one defines.
    void unbind(std::string_view prefix) {
        const auto file = at<Ehdr>(0);
        for (uint64_t s = 0; s < file.e_shnum; ++s) {
            const auto symbols = at<Shdr>(file.e_shoff + s * sizeof(Shdr));
            if (symbols.sh_type != SHT_DYNSYM) continue;
            const auto names = at<Shdr>(file.e_shoff + symbols.sh_link * sizeof(Shdr));
            for (uint64_t offset = symbols.sh_offset; offset < symbols.sh_offset + symbols.sh_size;
                 offset += sizeof(Sym)) {
                auto symbol = at<Sym>(offset);
                if (!std::string_view(bytes.data() + names.sh_offset + symbol.st_name)
                         .starts_with(prefix)) {
                    continue;
                }
                ++symbol.st_name;
                std::memcpy(bytes.data() + offset, &symbol, sizeof symbol);
            }
        }
    }
};

// A module is refused when its headers promise bytes that its file lacks, in sums that do not
// wrap, or when the program lacks a symbol it needs: at once, with its line, before any of its
// code could call the symbol. What the system loader never reads from the file (sections and
// memory it fills with zeros) may reach past the file's end.
TEST_F(ModuleLoaderTest, ModuleIsRefusedForBytesItsFileLacksAndSymbolsTheProgramLacks) {
    const uint64_t size = ModuleImage().bytes.size();
    const std::string cutShort =
        "the file is cut short (" + std::to_string(size) + " bytes where its headers promise ";
    const std::string wraps = cutShort + std::to_string(UINT64_MAX) + ")";
    const auto bss = +[](const Shdr& s) { return s.sh_type == SHT_NOBITS; };
    const auto unmapped = +[](const Shdr& s) {  // names, debug information
        return s.sh_type == SHT_PROGBITS && !(s.sh_flags & SHF_ALLOC) && s.sh_size > 0;
    };
    const auto zeroFilled =
        +[](const Phdr& p) { return p.p_type == PT_LOAD && p.p_memsz > p.p_filesz; };
    const auto stack = +[](const Phdr& p) { return p.p_type == PT_GNU_STACK; };
    const auto file = +[](const Ehdr&) { return true; };
    const struct {
        const char* name;
        std::function<void(ModuleImage&)> alter;
        std::string refusal;  // none: it loads
    } cases[] = {
        {".bss one byte past the end",
         [&](ModuleImage& m) {
             m.alter<Shdr>(bss, [&](Shdr& s) { s.sh_size = size + 1 - s.sh_offset; });
         },
         ""},
        {"memory one byte past the end",
         [&](ModuleImage& m) {
             m.alter<Phdr>(zeroFilled, [&](Phdr& p) { p.p_memsz = size + 1 - p.p_offset; });
         },
         ""},
        {"a section one byte past the end",
         [&](ModuleImage& m) {
             m.alter<Shdr>(unmapped, [&](Shdr& s) { s.sh_size = size + 1 - s.sh_offset; });
         },
         cutShort + std::to_string(size + 1) + ")"},
        {"a segment whose end just wraps",
         [&](ModuleImage& m) {
             m.alter<Phdr>(stack, [](Phdr& p) { p.p_filesz = 16, p.p_offset = UINT64_MAX - 15; });
         },
         wraps},
        {"a section whose end just wraps",
         [&](ModuleImage& m) {
             m.alter<Shdr>(unmapped, [](Shdr& s) { s.sh_offset = UINT64_MAX - s.sh_size + 1; });
         },
         wraps},
        {"a section table whose end just wraps",
         [&](ModuleImage& m) {
             m.alter<Ehdr>(file,
                           [](Ehdr& h) { h.e_shoff = UINT64_MAX - h.e_shnum * sizeof(Shdr) + 1; });
         },
         wraps},
        // Its initialiser calls the missing function.
        {"a symbol the program lacks",
         [](ModuleImage& m) { m.unbind("_ZN2rt12ModuleLoader8announce"); },
         "undefined symbol: ZN2rt12ModuleLoader8announce"},
    };
    testsupport::TempDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ns::ScopedSharedInstance<rt::ModuleLoader> loader;
        ns::ScopedSharedInstance<rt::ClassRegistry> registry;
        ModuleImage image;
        c.alter(image);
        const std::string path = (folder / (std::string(c.name) + ".so")).string();
        std::ofstream(path, std::ios::binary) << image.bytes;
        testsupport::LogCapture log;
        if (!c.refusal.empty()) log.expect("Cannot load the module " + path + ": " + c.refusal);
        loader->provide("LoadableGreeter", path);
        const auto greeter = loader->create<ns::Object>("LoadableGreeter");
        EXPECT_EQ(greeter != nullptr, c.refusal.empty());
        if (greeter) EXPECT_EQ(greeter->description(), "greetings from a module");
        EXPECT_EQ(log.count("Cannot load"), c.refusal.empty() ? 0u : 1u);
    }
}

}  // namespace
