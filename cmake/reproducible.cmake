# Reproducible Windows builds: one commit gives the same .exe, byte for byte, whatever the folder
# it is built in and whenever. The linker writes no time stamp into the PE header (it would take
# the build's time, or SOURCE_DATE_EPOCH), and the compiler writes build-folder paths (__FILE__,
# debug information before stripping) relative to the source tree. No other date enters the
# program: the copyright year is written in the resource script.
if(NOT WIN32)
  return()
endif()

add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
add_link_options(-Wl,--no-insert-timestamp)
