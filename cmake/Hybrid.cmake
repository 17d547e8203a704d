# hyb_library(NAME DIR <folder> DEPS <targets...>)
# Sources are every .cpp below the folder; headers are included as "<folder>/X.h".
function(hyb_library name)
    cmake_parse_arguments(A "" "DIR;EXCLUDE" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${A_DIR}/*.cpp)
    list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")  # entry points become executables
    if(A_EXCLUDE)
        list(FILTER srcs EXCLUDE REGEX "${A_EXCLUDE}")
    endif()
    if(NOT srcs)  # a folder whose first sources have not landed yet
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${A_DEPS})
        return()
    endif()
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/gen)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
    set_property(GLOBAL APPEND PROPERTY HYB_LIBRARIES ${name})
endfunction()

# hyb_tests(NAME DIR <tests folder> DEPS <targets...>)
# One lean test binary per library; each gtest case is its own CTest entry.
function(hyb_tests name)
    cmake_parse_arguments(A "" "DIR;EXCLUDE" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${A_DIR}/*.cpp)
    if(A_EXCLUDE)
        list(FILTER srcs EXCLUDE REGEX "${A_EXCLUDE}")
    endif()
    if(NOT srcs)
        return()
    endif()
    add_executable(${name} ${srcs} ${PROJECT_SOURCE_DIR}/tests/ThirdPartyRaces.cpp)
    target_link_libraries(${name} PRIVATE ${A_DEPS} testsupport GTest::gmock GTest::gtest
                          GTest::gtest_main)
    # Cases of parameterised tests are named by their generator or their index, never by a
    # byte dump of the parameter.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
                         PROPERTIES TIMEOUT 600)
endfunction()

# The programs' allocator. The dynamic values that carry every page call, answer and stored
# record are many small blocks, often made on one thread and freed on another; the C
# library's allocator serves such loads poorly (a 10k-call batch spends more time in it than
# in parsing), so release programs run on mimalloc, which replaces malloc for the whole
# process. Sanitizer builds keep the sanitizer's allocator, which checks every block.
function(hyb_process_allocator target)
    if(HYB_MIMALLOC AND NOT HYB_SANITIZE)
        # Kept linked even where the program calls none of its functions, with the settings
        # the programs run it with.
        target_link_options(${target} PRIVATE LINKER:--no-as-needed)
        target_link_libraries(${target} PRIVATE mimalloc)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/ProcessAllocator.cpp)
        # For a program that asks the allocator itself (a benchmark that has it give memory
        # back before it measures).
        target_compile_definitions(${target} PRIVATE HYB_PROCESS_ALLOCATOR_MIMALLOC=1)
    endif()
endfunction()

# hyb_module(NAME HOST <program> SOURCES <files...> DEPS <third-party targets...>)
# A part that the program loads as a shared module when first needed (rt::ModuleLoader), built
# beside it as NAME.so. It holds its own sources and the third-party libraries they call, and
# nothing of ours: its references to the platform resolve against the program, which exports
# just those symbols for it (cmake/ModuleExports.cmake), so that the program keeps one copy of
# every shared object. Call it in the folder that makes the program.
function(hyb_module name)
    cmake_parse_arguments(A "" "HOST" "SOURCES;DEPS" ${ARGN})
    add_library(${name} MODULE ${A_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/gen)
    target_link_libraries(${name} PRIVATE ${A_DEPS})
    target_link_options(${name} PRIVATE LINKER:--as-needed)
    set_target_properties(${name} PROPERTIES PREFIX "")
    get_target_property(folder ${A_HOST} RUNTIME_OUTPUT_DIRECTORY)
    if(folder)
        set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${folder})
    endif()
    set(exports ${CMAKE_CURRENT_BINARY_DIR}/${name}.exports)
    add_custom_command(OUTPUT ${exports}
        COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:${name}>
                -DOUTPUT=${exports} -P ${PROJECT_SOURCE_DIR}/cmake/ModuleExports.cmake
        DEPENDS ${name} ${PROJECT_SOURCE_DIR}/cmake/ModuleExports.cmake
        COMMENT "Symbols ${A_HOST} exports for ${name}")
    target_sources(${A_HOST} PRIVATE ${exports})
    target_link_options(${A_HOST} PRIVATE LINKER:--dynamic-list=${exports})
    set_property(TARGET ${A_HOST} APPEND PROPERTY LINK_DEPENDS ${exports})
endfunction()

# hyb_link_engine_first(TARGET)
# The dynamic linker looks each symbol up in a program's libraries in the order the program
# names them, and the engine's libraries make most of the look-ups of a launch (some seventy
# thousand). The program names the engine's libraries first, as the engine's own programs do,
# then the C++ and C runtimes with the process allocator just ahead of the C library (whose
# allocator it replaces), and only then the libraries of its own: the engine's look-ups do not
# pass through those on their way.
function(hyb_link_engine_first target)
    set(allocator)
    if(HYB_MIMALLOC AND NOT HYB_SANITIZE)
        set(allocator $<TARGET_LINKER_FILE:mimalloc>)
    endif()
    target_link_options(${target} PRIVATE LINKER:--push-state,--no-as-needed
                        ${WEBKIT_LINK_LIBRARIES} -lstdc++ -lm -lgcc_s ${allocator} -lc
                        LINKER:--pop-state)
endfunction()

# hyb_json_checked(TARGET)
# Builds the program with the SIMD JSON library's development checks on: optimised builds leave
# them out, and a misuse of the library (entering containers deeper than its parser was made
# for, reading a value twice) then passes unseen, or is undefined behaviour. The checks change
# the library's own types, so every file of the program that uses the library is compiled with
# them: the program gets its own copies of the platform's JSON readers, and must link nothing
# else that uses the library (platform_ns only, whose copies are then left out).
function(hyb_json_checked target)
    set(ns ${PROJECT_SOURCE_DIR}/platform/ns)
    target_sources(${target} PRIVATE ${ns}/JSONReader.cpp ${ns}/JSONText.cpp ${ns}/UTF8.cpp)
    target_compile_definitions(${target} PRIVATE SIMDJSON_DEVELOPMENT_CHECKS=1)
    # The checks are assertions: kept where the build turns assertions off.
    target_compile_options(${target} PRIVATE -UNDEBUG)
    target_link_libraries(${target} PRIVATE platform_ns)
endfunction()
