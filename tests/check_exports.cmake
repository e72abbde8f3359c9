# Fails unless the plug-in PLUGIN defines exactly one dynamic symbol of its
# own, mexFunction, and holds no unique-binding symbol (which would keep the
# host from unloading it).
execute_process(COMMAND readelf --dyn-syms -W ${PLUGIN} OUTPUT_VARIABLE table RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${PLUGIN}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(defined "")
foreach(line IN LISTS lines)
  if(line MATCHES "UNIQUE")
    message(FATAL_ERROR "unique-binding symbol in ${PLUGIN}: ${line}")
  endif()
  # Defined symbols have a section index, not UND; skip the null entry.
  if(line MATCHES "^ *[0-9]+: +[0-9a-f]+ +[0-9]+ +(FUNC|OBJECT|NOTYPE|TLS|IFUNC) +[A-Z]+ +[A-Z]+ +([0-9]+) +(.+)$")
    list(APPEND defined "${CMAKE_MATCH_3}")
  endif()
endforeach()
if(NOT defined STREQUAL "mexFunction")
  message(FATAL_ERROR "${PLUGIN} exports [${defined}], expected only mexFunction")
endif()
message(STATUS "${PLUGIN} exports only mexFunction")
