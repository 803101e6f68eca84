# Writes the header that names the commit a build was made from; run at every build by the
# quillet_build_commit target, and rewrites the header only when the text changes, so that an
# unchanged commit recompiles nothing. Outside a git checkout (a source tarball) the commit is
# "unknown". Inputs: SOURCE_DIR, OUTPUT.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit "unknown")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND commit "+changes")
  endif()
endif()
set(text "// Made by cmake/BuildCommit.cmake at build time.\n#pragma once\n#define QUILLET_BUILD_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
