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
    cmake_parse_arguments(A "" "DIR" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${A_DIR}/*.cpp)
    if(NOT srcs)
        return()
    endif()
    add_executable(${name} ${srcs})
    target_link_libraries(${name} PRIVATE ${A_DEPS} testsupport GTest::gmock GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 600)
endfunction()
