# Every dependency is a Debian package (scripts/install-deps installs them).
# The Windows cross build finds the same names in the prefix that
# scripts/build-windows fills from Debian's source packages.
find_package(PkgConfig REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS OpenGL)
find_package(glfw3 3.3 REQUIRED)
find_package(Threads REQUIRED)

if(WIN32)
  # Static libraries only, so nothing but system DLLs ends up imported.
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  # toml++ is compiled in from its headers there (Debian ships no Windows library).
  add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
  set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${TESSARAN_WINDOWS_DEPS}/include
    INTERFACE_COMPILE_DEFINITIONS TOML_HEADER_ONLY=1)
  pkg_check_modules(GLEW REQUIRED IMPORTED_TARGET glew)
  pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
  pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
  pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
  pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
  # The authoring tools'.
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${TESSARAN_WINDOWS_DEPS}/include)
  pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  pkg_check_modules(LAME REQUIRED IMPORTED_TARGET lame)
  return()
endif()

find_package(tomlplusplus REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)

pkg_check_modules(GLEW REQUIRED IMPORTED_TARGET glew)
pkg_check_modules(ZZIP REQUIRED IMPORTED_TARGET zziplib)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(LAME REQUIRED IMPORTED_TARGET lame)
