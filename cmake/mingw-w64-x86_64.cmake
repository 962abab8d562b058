# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads
# flavour, so std::thread and std::mutex work). Use it with
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables run on a machine without the compiler's DLLs: the C and C++
# runtimes and the threads library are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables are run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
