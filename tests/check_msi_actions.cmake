# Checks where a package built from star-atlas.wxs runs handoff.exe, which
# decides whether its prompt can come to the front and how often it runs:
#   cmake -DMSI=... -DMSIINFO=... -P check_msi_actions.cmake
# RunHandoff must be an executable from an installed file that the installer
# waits for (18), right after ExecuteAction in the UI sequence, which runs in
# msiexec itself at the full and reduced user interface levels. In the
# execute sequence, which holds the installer's mutex, nothing may wait for
# the prompt: RunHandoffNoWait, the same executable started without waiting
# (18 + 0xC0, asynchronous and not waited for: 210, run at once, not
# deferred), comes right after InstallFinalize, only at the levels where the
# UI sequence does not run (UILevel 2 and 3), and RunHandoff not at all.
# Each runs on a first install only.

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
# `action` must run the installed handoff.exe as custom action type `type`.
macro(require_type action type)
  if(NOT (actions MATCHES "\n${action}\t${type}\tHandoff\t"))
    string(REGEX MATCH "\n${action}\t[^\n]*" found "${actions}")
    string(APPEND failures "\n  ${action} is not of type ${type}: '${found}'")
  endif()
endmacro()
require_type(RunHandoff 18)
require_type(RunHandoffNoWait 210)
# `action` must come right after `after` in the sequence table, on the condition `expected`.
macro(require_after table after action expected)
  export_table(${table} sequence)
  sequence_of("${sequence}" ${action} number condition)
  sequence_of("${sequence}" ${after} afterNumber unused)
  if(number STREQUAL "" OR afterNumber STREQUAL "")
    string(APPEND failures "\n  ${table} lacks ${action} or ${after}")
  else()
    math(EXPR next "${afterNumber} + 1")
    if(NOT (number EQUAL next) OR NOT (condition STREQUAL "${expected}"))
      string(APPEND failures
             "\n  ${table}: ${action} at ${number} if '${condition}', not right after ${after} (${afterNumber}) if '${expected}'")
    endif()
  endif()
endmacro()
require_after(InstallUISequence ExecuteAction RunHandoff "NOT Installed")
require_after(InstallExecuteSequence InstallFinalize RunHandoffNoWait "NOT Installed AND UILevel < 4")
export_table(InstallExecuteSequence execute)
sequence_of("${execute}" RunHandoff number condition)
if(NOT (number STREQUAL ""))
  string(APPEND failures "\n  InstallExecuteSequence waits for the prompt: RunHandoff at ${number}")
endif()
if(failures)
  message(FATAL_ERROR "${MSI}:${failures}")
endif()
message(STATUS "${MSI}: RunHandoff after ExecuteAction, or else RunHandoffNoWait after InstallFinalize")
