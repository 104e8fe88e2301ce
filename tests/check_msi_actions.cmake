# Checks where a package built from star-atlas.wxs runs handoff.exe, which
# decides whether its prompt can come to the front and how often it runs:
#   cmake -DMSI=... -DMSIINFO=... -P check_msi_actions.cmake
# RunHandoff must be an executable from an installed file (18), right after
# ExecuteAction in the UI sequence, which runs in msiexec itself at the full
# and reduced user interface levels, and after InstallFinalize in the execute
# sequence only at the levels where the UI sequence does not run (UILevel 2
# and 3), each on a first install only.

set(failures "")
macro(export_table table var)
  execute_process(COMMAND ${MSIINFO} export ${MSI} ${table} OUTPUT_VARIABLE ${var}
                  RESULT_VARIABLE result)
  if(NOT (result EQUAL 0))
    string(APPEND failures "\n  no ${table} table")
  endif()
  string(REPLACE "\r" "" ${var} "${${var}}")
endmacro()
# The sequence number of `action` in the exported sequence table `text`, and its condition.
macro(sequence_of text action numberVar conditionVar)
  set(${numberVar} "")
  set(${conditionVar} "")
  if("${text}" MATCHES "\n${action}\t([^\t\n]*)\t([0-9]+)\n")
    set(${conditionVar} "${CMAKE_MATCH_1}")
    set(${numberVar} "${CMAKE_MATCH_2}")
  endif()
endmacro()

export_table(CustomAction actions)
if(NOT (actions MATCHES "\nRunHandoff\t18\tHandoff\t"))
  string(REGEX MATCH "\nRunHandoff\t[^\n]*" found "${actions}")
  string(APPEND failures "\n  RunHandoff is not of type 18: '${found}'")
endif()
# RunHandoff must come right after `after` in the sequence table, on the condition `expected`.
macro(require_after table after expected)
  export_table(${table} sequence)
  sequence_of("${sequence}" RunHandoff number condition)
  sequence_of("${sequence}" ${after} afterNumber unused)
  if(number STREQUAL "" OR afterNumber STREQUAL "")
    string(APPEND failures "\n  ${table} lacks RunHandoff or ${after}")
  else()
    math(EXPR next "${afterNumber} + 1")
    if(NOT (number EQUAL next) OR NOT (condition STREQUAL "${expected}"))
      string(APPEND failures
             "\n  ${table}: RunHandoff at ${number} if '${condition}', not right after ${after} (${afterNumber}) if '${expected}'")
    endif()
  endif()
endmacro()
require_after(InstallUISequence ExecuteAction "NOT Installed")
require_after(InstallExecuteSequence InstallFinalize "NOT Installed AND UILevel < 4")
if(failures)
  message(FATAL_ERROR "${MSI}:${failures}")
endif()
message(STATUS "${MSI}: RunHandoff after ExecuteAction, or else after InstallFinalize")
