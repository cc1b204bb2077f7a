# Writes OUT (a header with ORRIN_VERSION_TEXT) from the project version and, when the
# sources are a git checkout, `git describe`. Run at every build so a new commit shows in
# --version; the header is rewritten only when its text changes, so nothing recompiles
# needlessly.
set(text "${VERSION}")
if(EXISTS "${SOURCE_DIR}/.git")
  find_program(GIT git)
  if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" describe --tags --always --dirty
                    OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND described)
      set(text "${VERSION} (${described})")
    endif()
  endif()
endif()
set(content "#pragma once\n#define ORRIN_VERSION_TEXT \"${text}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUT}" "${content}")
endif()
