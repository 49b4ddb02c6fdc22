# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the -posix
# compilers, which give std::thread), running programs and tests under Wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ARK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ARK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ARK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ARK_MINGW_PREFIX}-windres)
find_program(ARK_WINDMC ${ARK_MINGW_PREFIX}-windmc REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ARK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their C and C++ runtimes: they import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# add_test and gtest_discover_tests run the programs through Wine
# (scripts/test-windows sets up the prefix and keeps a wineserver running).
find_program(ARK_WINE wine)
if(ARK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ARK_WINE})
endif()
