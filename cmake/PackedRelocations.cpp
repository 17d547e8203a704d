// Compiled into release programs linked with their relative relocations packed (DT_RELR): the
// host's nine thousand take under 2 KiB instead of over 200 KiB that every start reads and
// keeps resident. The C library loads such a program only when the program names the library's
// GLIBC_ABI_DT_RELR version, which a linker that packs on its own request adds by itself; this
// linker packs on an older option and does not, so the program refers to the symbol that marks
// that version.
namespace {

extern "C" const char glibcPackedRelocations __asm__("GLIBC_ABI_DT_RELR@GLIBC_ABI_DT_RELR")
    __attribute__((weak));

[[maybe_unused]] __attribute__((used)) const void* const kNamesTheVersion = &glibcPackedRelocations;

}  // namespace
