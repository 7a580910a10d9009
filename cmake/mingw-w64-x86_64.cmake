# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need). Dependencies are looked up only
# in TESSARAN_WINDOWS_DEPS (the prefix scripts/build-windows fills) and the
# toolchain's own sysroot, never in the build machine's /usr.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT TESSARAN_WINDOWS_DEPS AND DEFINED ENV{TESSARAN_WINDOWS_DEPS})
  set(TESSARAN_WINDOWS_DEPS $ENV{TESSARAN_WINDOWS_DEPS})
endif()
# Try-compiles run in their own projects; they need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESSARAN_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${TESSARAN_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the prefix's .pc files, whose paths are already absolute.
if(TESSARAN_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${TESSARAN_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# Everything static, the compiler's own runtime included: the release needs no
# MinGW DLL beside the executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
