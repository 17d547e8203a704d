# Third-party libraries, all from Debian packages that `tools/dev setup` installs.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(OPENSSL REQUIRED IMPORTED_TARGET libssl libcrypto)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
# Digests and HMAC; HTTP: libraries the web engine loads anyway.
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(SOUP REQUIRED IMPORTED_TARGET libsoup-3.0)
find_path(RAPIDJSON_INCLUDE rapidjson/document.h REQUIRED)
# The on-demand reader of page calls and their arguments.
find_package(simdjson CONFIG REQUIRED)
# The JSON library's on-demand reader is compiled into our own code and runs the kernel that
# the compile flags allow: SSE4.2 without carry-less multiplication (PCLMUL) gives its portable
# one. Every x86-64 processor of the last decade has SSE4.2, PCLMUL and POPCNT; not every one
# has AVX2 (some low-power ones lack it), so the build asks for these and no more.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    add_compile_options(-msse4.2 -mpclmul -mpopcnt)
endif()
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale)
pkg_check_modules(ZXING REQUIRED IMPORTED_TARGET zxing)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
find_package(Protobuf REQUIRED)
# protobuf's runtime is linked in from its static archive: the shared one is a library of its
# own that every launch maps and links (some six thousand symbol look-ups, 1.8 MiB resident)
# for the few parts of it the SDK uses.
find_library(PROTOBUF_ARCHIVE NAMES libprotobuf.a REQUIRED)
add_library(protobuf_runtime INTERFACE)
target_include_directories(protobuf_runtime INTERFACE ${Protobuf_INCLUDE_DIRS})
target_link_libraries(protobuf_runtime INTERFACE ${PROTOBUF_ARCHIVE} PkgConfig::ZLIB
                      Threads::Threads)
# FarmHash is linked in from its archive: a few functions that would otherwise be one more
# library for every symbol look-up of a launch to pass through.
find_library(FARMHASH_ARCHIVE NAMES libfarmhash.a farmhash REQUIRED)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
# GTK's module library asks every program to export all of its symbols, for handlers that
# interface description files name; ours builds its widgets in code. Exported, the host's
# tens of thousands of symbols would be searched first by every lookup of every library it
# loads, and their table would be read into memory: the host exports only what its modules
# take from it (hyb_module).
get_target_property(webkit_link_options PkgConfig::WEBKIT INTERFACE_LINK_OPTIONS)
if(webkit_link_options)
    list(REMOVE_ITEM webkit_link_options "-Wl,--export-dynamic")
    set_target_properties(PkgConfig::WEBKIT PROPERTIES INTERFACE_LINK_OPTIONS
                          "${webkit_link_options}")
endif()
if(HYB_MIMALLOC AND NOT HYB_SANITIZE)
    find_package(mimalloc 2 CONFIG REQUIRED)
endif()
