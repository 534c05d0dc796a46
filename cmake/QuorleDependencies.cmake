# Finds the project's dependencies. Targets that need a dependency missing on this
# platform are skipped with a message. The mingw build finds OpenSSL, cubeb and
# nlohmann-json in the folder that scripts/mingw-deps fills (see the toolchain file).
find_package(Threads REQUIRED)

find_package(nlohmann_json 3 QUIET)
if(MINGW AND NOT nlohmann_json_FOUND AND EXISTS /usr/include/nlohmann/json.hpp)
    # nlohmann-json is headers only, but the host's copy sits in /usr/include beside the
    # host's C library headers, which a Windows compile must not see: a copy of its folder
    # alone serves instead.
    file(COPY /usr/include/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/_nlohmann_json/include)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/_nlohmann_json/include)
    set(nlohmann_json_FOUND TRUE)
endif()
if(MINGW)
    # libcrypto.a, with the system libraries that a static libcrypto needs.
    set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
find_package(OpenSSL QUIET COMPONENTS Crypto)
find_package(cubeb QUIET)

if(NOT CMAKE_CROSSCOMPILING)
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND AND NOT WIN32)
        pkg_check_modules(LIBPULSE IMPORTED_TARGET libpulse)
        pkg_check_modules(X11 IMPORTED_TARGET x11)
        pkg_check_modules(XRES IMPORTED_TARGET xres)
    endif()
endif()

if(QUORLE_BUILD_TESTS)
    if(CMAKE_CROSSCOMPILING AND WIN32)
        # GoogleTest for the Windows build comes from Debian's sources.
        if(EXISTS /usr/src/googletest/CMakeLists.txt)
            set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
            set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
            add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
            if(NOT TARGET GTest::gtest_main)
                add_library(GTest::gtest ALIAS gtest)
                add_library(GTest::gtest_main ALIAS gtest_main)
                add_library(GTest::gmock ALIAS gmock)
            endif()
        endif()
    else()
        find_package(GTest QUIET)
    endif()
    include(GoogleTest)
endif()

if(QUORLE_BUILD_BENCH AND NOT CMAKE_CROSSCOMPILING)
    find_package(benchmark QUIET)
endif()

foreach(dep nlohmann_json OpenSSL cubeb GTest benchmark)
    if(NOT ${dep}_FOUND)
        message(STATUS "quorle: ${dep} not found; targets that need it are skipped")
    endif()
endforeach()
if(MINGW AND NOT (OpenSSL_FOUND AND cubeb_FOUND))
    message(STATUS "quorle: the Windows OpenSSL and cubeb are not in ${QUORLE_MINGW_DEPS}; "
                   "scripts/mingw-deps builds them")
endif()
