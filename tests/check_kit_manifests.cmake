# Checks that each program of the test kit carries a manifest that runs it as
# the user who starts it (requestedExecutionLevel asInvoker). Without one,
# Windows' installer detection takes a 32-bit program whose name says
# "install" or "setup" for an installer and asks for elevation, and
# CreateProcess fails with 740 (ERROR_ELEVATION_REQUIRED) for an ordinary user:
#   cmake -DFOLDER=<kit folder> | -DPROGRAMS=<a;b> -DWINDRES=... -DXMLLINT=...
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

# The little-endian number of `bytes` bytes at byte `offset` of the hex text `hex`.
function(hex_number var hex offset bytes)
  math(EXPR at "(${offset}) * 2")
  math(EXPR length "${bytes} * 2")
  string(SUBSTRING "${hex}" ${at} ${length} digits)
  set(reversed "")
  foreach(byte RANGE 0 ${length} 2)
    string(SUBSTRING "${digits}" ${byte} 2 pair)
    string(PREPEND reversed "${pair}")
  endforeach()
  math(EXPR number "0x0${reversed}")
  set(${var} ${number} PARENT_SCOPE)
endfunction()

# The manifests of a program, each written to a file of its own; `var` gets
# their paths. windres writes the resources as a .res file: entries of a
# 32-bit data size and header size, then the type and the name as 0xffff and
# a number (a text of 16-bit letters ending in 0 is no manifest Windows reads),
# the rest of the header, and the data, padded to 4 bytes.
function(manifests_of var program)
  get_filename_component(name ${program} NAME_WE)
  set(res ${WORK_DIR}/${name}.res)
  set(found "")
  execute_process(COMMAND ${WINDRES} -i ${program} -O res -o ${res} RESULT_VARIABLE result
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT (result EQUAL 0))
    set(${var} "" PARENT_SCOPE)  # no resources at all
    return()
  endif()
  file(READ ${res} hex HEX)
  string(LENGTH "${hex}" size)
  math(EXPR size "${size} / 2")
  set(at 0)
  while(at LESS size)
    hex_number(dataSize "${hex}" ${at} 4)
    hex_number(headerSize "${hex}" "${at} + 4" 4)
    if(headerSize LESS 24)
      break()
    endif()
    hex_number(typeMark "${hex}" "${at} + 8" 2)
    hex_number(type "${hex}" "${at} + 10" 2)
    hex_number(nameMark "${hex}" "${at} + 12" 2)
    hex_number(id "${hex}" "${at} + 14" 2)
    math(EXPR dataAt "${at} + ${headerSize}")
    if(typeMark EQUAL 0xffff AND type EQUAL 24 AND nameMark EQUAL 0xffff AND id EQUAL 1)
      set(manifest ${WORK_DIR}/${name}.${dataAt}.manifest)
      file(READ ${res} text OFFSET ${dataAt} LIMIT ${dataSize})
      file(WRITE ${manifest} "${text}")
      list(APPEND found ${manifest})
    endif()
    math(EXPR at "(${dataAt} + ${dataSize} + 3) / 4 * 4")
  endwhile()
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
