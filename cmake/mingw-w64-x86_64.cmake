# Cross-building for 64-bit Windows with Debian's mingw-w64 (the -posix thread model, which
# has std::thread and std::mutex), against the libraries scripts/build-windows-deps.sh built.
# Nothing from the Linux system is ever picked up: headers, libraries, CMake packages and
# pkg-config files come from the mingw sysroot and the deps prefix only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORRIN_MINGW_TRIPLET}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

# The deps prefix: ORRIN_WINDOWS_DEPS from the environment or the cache, else the one inside
# the build tree's parent (build-windows/deps next to the project's build-windows/).
if(NOT ORRIN_WINDOWS_DEPS)
  if(DEFINED ENV{ORRIN_WINDOWS_DEPS} AND NOT "$ENV{ORRIN_WINDOWS_DEPS}" STREQUAL "")
    set(ORRIN_WINDOWS_DEPS "$ENV{ORRIN_WINDOWS_DEPS}")
  else()
    get_filename_component(ORRIN_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps" ABSOLUTE)
  endif()
endif()
set(ORRIN_WINDOWS_DEPS "${ORRIN_WINDOWS_DEPS}" CACHE PATH "Prefix of the Windows builds of SDL2, SDL2_ttf, FreeType, libjpeg-turbo")
# try_compile projects read this file again: hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORRIN_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${ORRIN_MINGW_TRIPLET} "${ORRIN_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH "${ORRIN_WINDOWS_DEPS}")

# pkg-config sees the deps prefix and nothing else, and gives the static link lines.
set(ENV{PKG_CONFIG_LIBDIR} "${ORRIN_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
set(PKG_CONFIG_ARGN --static)

# No runtime DLL (libstdc++, libgcc, winpthread) has to travel with the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
