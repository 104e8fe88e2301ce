# Checks that each program of the test kit carries a manifest that runs it as
# the user who starts it (requestedExecutionLevel asInvoker). Without one,
# Windows' installer detection takes a 32-bit program whose name says
# "install" or "setup" for an installer and asks for elevation, and
# CreateProcess fails with 740 (ERROR_ELEVATION_REQUIRED) for an ordinary user:
#   cmake -DFOLDER=<kit folder> | -DPROGRAMS=<a;b> -DREADOBJ=... -DXMLLINT=...
#         -DWORK_DIR=... -P check_kit_manifests.cmake
# FOLDER checks every .exe in it, so that a program added to the kit is held
# to this too.

set(programs ${PROGRAMS})
if(FOLDER)
  file(GLOB programs ${FOLDER}/*.exe)
  if(NOT programs)
    message(FATAL_ERROR "no programs in ${FOLDER}")
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/image_reader.cmake)

# The manifests of a program (resource 1 of type 24, which Windows reads),
# each written to a file of its own; `var` gets their paths.
function(manifests_of var program)
  get_filename_component(name ${program} NAME_WE)
  read_image_parts(${program} ${READOBJ})
  image_resources(resources)
  set(found "")
  foreach(resource IN LISTS resources)
    if(resource MATCHES "^MANIFEST \\(ID 24\\)\\|1\\|([^|]+)\\|([^|]+)$")
      set(rva ${CMAKE_MATCH_1})
      set(size ${CMAKE_MATCH_2})
      read_image(data ${program} ${rva} ${size})
      if(NOT (data STREQUAL ""))
        set(manifest ${WORK_DIR}/${name}.${rva}.manifest)
        file(READ ${program} text OFFSET ${data_offset} LIMIT ${size})
        file(WRITE ${manifest} "${text}")
        list(APPEND found ${manifest})
      endif()
    endif()
  endforeach()
  set(${var} ${found} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${WORK_DIR})
set(failures "")
foreach(program IN LISTS programs)
  get_filename_component(fileName ${program} NAME)
  manifests_of(manifests ${program})
  list(LENGTH manifests count)
  if(NOT (count EQUAL 1))
    string(APPEND failures "\n  ${fileName}: ${count} manifests (resource 1 of type 24) instead of one")
    continue()
  endif()
  # Windows reads the execution level from trustInfo in either namespace.
  set(level "*[local-name()='requestedExecutionLevel' and @level='asInvoker' and (namespace-uri()='urn:schemas-microsoft-com:asm.v2' or namespace-uri()='urn:schemas-microsoft-com:asm.v3')]")
  execute_process(COMMAND ${XMLLINT} --xpath "count(/*[local-name()='assembly']/*[local-name()='trustInfo']/*[local-name()='security']/*[local-name()='requestedPrivileges']/${level})"
                          ${manifests} OUTPUT_VARIABLE levels ERROR_VARIABLE errors
                          OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT (result EQUAL 0 AND levels STREQUAL "1"))
    string(REGEX REPLACE "\n.*" "" errors "${errors}")
    string(APPEND failures "\n  ${fileName}: its manifest does not run it asInvoker ${errors}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "kit programs without a manifest that runs them asInvoker:${failures}")
endif()
list(LENGTH programs count)
message(STATUS "each of ${count} programs carries a manifest that runs it asInvoker")
