# Cross build for 64-bit Windows with mingw-w64 (the -posix variants carry std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# The mingw-w64 runtime, then the libraries that scripts/mingw-deps builds for this target
# (OpenSSL's libcrypto, cubeb, and nlohmann-json's headers); the folder is the preset's
# QUORLE_MINGW_DEPS, build/mingw-deps/current unless given.
if(NOT QUORLE_MINGW_DEPS)
    set(QUORLE_MINGW_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/mingw-deps/current")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${QUORLE_MINGW_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORLE_MINGW_DEPS)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every .exe must run under Wine without extra DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test executables run under Wine through ctest.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
