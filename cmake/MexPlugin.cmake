# Building the plug-ins as MEX files for GNU Octave from CMake.
#
# add_mex_plugin(NAME SOURCES... LINK libs...) builds NAME.mex into
# ${MEX_OUTPUT_DIR}, exporting mexFunction and nothing else.

find_program(MKOCTFILE_EXECUTABLE NAMES mkoctfile)
if(MKOCTFILE_EXECUTABLE)
  execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p OCTINCLUDEDIR
                  OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT OCTAVE_INCLUDE_DIR OR NOT EXISTS "${OCTAVE_INCLUDE_DIR}/mex.h")
  message(FATAL_ERROR "Octave's mex.h was not found: install liboctave-dev (mkoctfile), "
                      "or configure with -DSPHEREFILL_BUILD_PLUGINS=OFF.")
endif()

set(MEX_OUTPUT_DIR ${PROJECT_BINARY_DIR}/toolbox CACHE INTERNAL "Folder of the built plug-ins")

function(add_mex_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  # Octave's Ctrl-C for the entry points.
  add_library(${name}_mex MODULE ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/host/interrupt_octave.cpp)
  target_include_directories(${name}_mex PRIVATE ${OCTAVE_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/host)
  target_link_libraries(${name}_mex PRIVATE ${ARG_LINK})
  set_target_properties(${name}_mex PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex"
    LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT APPLE)
    # Only mexFunction leaves the library, whatever the linked code exports.
    target_link_options(${name}_mex PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/mex_exports.map -Wl,-Bsymbolic)
  endif()
endfunction()

