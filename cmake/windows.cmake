# The Windows build: cross-built with cmake/mingw-w64-x86_64.cmake against the static
# libraries of scripts/build-windows-deps.sh; its tests run under Wine (scripts/wine-run.sh).
# Included from the top-level CMakeLists.txt before the targets exist; the target settings
# are in orrin_windows_targets(), called once they do.
enable_language(RC)

# Every program's entry is its own main(), in the console and the window subsystem alike:
# SDL must not rename it to SDL_main.
add_compile_definitions(SDL_MAIN_HANDLED)

# Test programs are started through Wine, by GoogleTest's discovery and by CTest.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)

set(ORRIN_WINDOWS_GENERATED ${PROJECT_BINARY_DIR}/generated/windows)
file(MAKE_DIRECTORY ${ORRIN_WINDOWS_GENERATED})

# The icon is drawn by the same code as the Linux window icon, compiled for and run on the
# build machine (a Windows program could not run here at build time without Wine).
find_program(ORRIN_HOST_CXX NAMES c++ g++ REQUIRED)
set(orrin_icon_sources
  ${PROJECT_SOURCE_DIR}/src/app/icon_art.cpp
  ${PROJECT_SOURCE_DIR}/tools/make_ico/ico_file.cpp
  ${PROJECT_SOURCE_DIR}/tools/make_ico/make_ico.cpp)
set(ORRIN_WINDOWS_ICON ${ORRIN_WINDOWS_GENERATED}/orrin-receiver.ico)
add_custom_command(OUTPUT ${ORRIN_WINDOWS_ICON}
  COMMAND ${ORRIN_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/src
          ${orrin_icon_sources} -o ${ORRIN_WINDOWS_GENERATED}/make_ico
  COMMAND ${ORRIN_WINDOWS_GENERATED}/make_ico ${ORRIN_WINDOWS_ICON}
  DEPENDS ${orrin_icon_sources} ${PROJECT_SOURCE_DIR}/src/app/icon_art.h ${PROJECT_SOURCE_DIR}/tools/make_ico/ico_file.h
  COMMENT "Drawing orrin-receiver.ico with the build machine's compiler"
  VERBATIM)
add_custom_target(orrin_windows_icon DEPENDS ${ORRIN_WINDOWS_ICON})

# Resource scripts name their files by absolute path, wherever the build tree is.
set(ORRIN_WINDOWS_MANIFEST ${PROJECT_SOURCE_DIR}/data/windows/orrin.manifest)
string(REPLACE "." "," ORRIN_VERSION_COMMAS "${PROJECT_VERSION}.0")
foreach(program orrin-receiver orrin-cast)
  configure_file(${PROJECT_SOURCE_DIR}/data/windows/${program}.rc.in ${ORRIN_WINDOWS_GENERATED}/${program}.rc @ONLY)
endforeach()

function(orrin_windows_targets)
  # What the platform code calls: Winsock and the adapter list, CryptoAPI, GDI and the
  # window and debugger calls. SDL's own system libraries come with its pkg-config file.
  target_link_libraries(orrin_core PUBLIC ws2_32 iphlpapi advapi32 crypt32)
  target_link_libraries(orrin_app PUBLIC gdi32 user32 shell32)

  # The receiver is a window program (no console of its own); orrin-cast stays a console one.
  target_link_options(orrin-receiver PRIVATE -mwindows)
  target_sources(orrin-receiver PRIVATE ${ORRIN_WINDOWS_GENERATED}/orrin-receiver.rc)
  add_dependencies(orrin-receiver orrin_windows_icon)
  set_source_files_properties(${ORRIN_WINDOWS_GENERATED}/orrin-receiver.rc TARGET_DIRECTORY orrin-receiver
    PROPERTIES OBJECT_DEPENDS "${ORRIN_WINDOWS_ICON};${ORRIN_WINDOWS_MANIFEST}")
  target_sources(orrin-cast PRIVATE ${ORRIN_WINDOWS_GENERATED}/orrin-cast.rc)
  set_source_files_properties(${ORRIN_WINDOWS_GENERATED}/orrin-cast.rc TARGET_DIRECTORY orrin-cast
    PROPERTIES OBJECT_DEPENDS "${ORRIN_WINDOWS_MANIFEST}")
endfunction()
