# Reproducible Windows builds: one commit gives the same .exe, byte for byte, whatever the folder
# it is built in and whenever. The linker writes no time stamp into the PE header, the compiler
# writes build-folder paths (__FILE__, debug info before stripping) relative to the source tree,
# and the only date the program carries, the copyright year, comes from SOURCE_DATE_EPOCH
# (https://reproducible-builds.org/specs/source-date-epoch/): the environment's, else the date
# of the commit being built.
if(NOT WIN32)
  return()
endif()

add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
add_link_options(-Wl,--no-insert-timestamp)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(AGGIORNA_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE AGGIORNA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE git_status)
  if(NOT git_status EQUAL 0)
    set(AGGIORNA_SOURCE_DATE_EPOCH "")
  endif()
endif()
if(NOT AGGIORNA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  string(TIMESTAMP AGGIORNA_SOURCE_DATE_EPOCH "%s" UTC)
  message(WARNING "Neither SOURCE_DATE_EPOCH nor a git commit gives the build date: "
                  "using the current time, so this build is not reproducible.")
endif()
# string(TIMESTAMP) formats SOURCE_DATE_EPOCH from the environment when it is set.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} "${AGGIORNA_SOURCE_DATE_EPOCH}")
string(TIMESTAMP AGGIORNA_ANNO "%Y" UTC)
if(saved_epoch STREQUAL "")
  unset(ENV{SOURCE_DATE_EPOCH})
else()
  set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
endif()
# The resource script may write the year into the copyright: AGGIORNA_ANNO, a number.
add_compile_definitions("$<$<COMPILE_LANGUAGE:RC>:AGGIORNA_ANNO=${AGGIORNA_ANNO}>")
