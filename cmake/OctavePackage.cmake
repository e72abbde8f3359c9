# Lays out the Octave package (DESCRIPTION, COPYING, NEWS, src/ with the sources,
# the help files and a Makefile) and packs it into OUTPUT.
# Run with -DSOURCE_DIR=... -DSTAGE_DIR=... -DOUTPUT=... -DPROJECT_VERSION=...
# and -DSOURCES=a|b|... (the plug-ins' sources and headers, flattened into src/).
set(pkg ${STAGE_DIR}/spherefill)
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${pkg}/src)

configure_file(${SOURCE_DIR}/toolbox/octave_package/DESCRIPTION.in ${pkg}/DESCRIPTION @ONLY)
# The package's COPYING is the project's licence; NEWS is the project's.
configure_file(${SOURCE_DIR}/LICENSE ${pkg}/COPYING COPYONLY)
file(COPY ${SOURCE_DIR}/NEWS DESTINATION ${pkg})
file(COPY ${SOURCE_DIR}/toolbox/octave_package/Makefile DESTINATION ${pkg}/src)
# The help files travel in src/ and the Makefile puts them beside the
# plug-ins; FILES names what pkg itself copies out of src/.
file(COPY ${SOURCE_DIR}/toolbox/spherefill.m ${SOURCE_DIR}/toolbox/gapsum.m DESTINATION ${pkg}/src)
file(WRITE ${pkg}/src/FILES "spherefill.mex\ngapsum.mex\n")
string(REPLACE "|" ";" sources "${SOURCES}")
file(COPY ${sources} DESTINATION ${pkg}/src)

execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} spherefill
                WORKING_DIRECTORY ${STAGE_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not pack ${OUTPUT}")
endif()
