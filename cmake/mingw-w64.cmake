# Cross-builds the Windows deliverable "Veltrix.aex" (and the headless host
# with its Windows checks) with mingw-w64 on Debian:
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64.cmake
#   cmake --build build-windows -j2 && (cd build-windows && ctest)
# scripts/test --windows does all of this, Wine included.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The -posix compilers: the default (win32 thread model) ones have no
# std::thread, which the headless host's worker pool needs.
set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the plug-in and the programs must load on a Windows
# without mingw's runtime DLLs (libwinpthread, libstdc++, libgcc).
set(_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static}")

# Windows programs run here under Wine (tests, build steps).
find_program(VELTRIX_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELTRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRIX_WINE})
endif()

# What needs the build machine's libraries stays off: the GoogleTest suite and
# the benchmarks (their Windows counterpart is tests/windows). The
# command-line renderer is built, with its own image files instead of
# OpenImageIO (headless/render/CMakeLists.txt).
set(VELTRIX_BUILD_TESTS OFF CACHE BOOL "Build unit and integration tests")
set(VELTRIX_BUILD_BENCH OFF CACHE BOOL "Build benchmarks")
