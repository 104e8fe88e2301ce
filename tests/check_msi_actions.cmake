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

include(${CMAKE_CURRENT_LIST_DIR}/image_reader.cmake)
foreach(table CustomAction InstallUISequence InstallExecuteSequence)
  execute_process(COMMAND ${MSIINFO} export ${MSI} ${table} OUTPUT_VARIABLE ${table} RESULT_VARIABLE result)
  if(NOT (result EQUAL 0))
    fail("no ${table} table")
  endif()
  string(REPLACE "\r" "" ${table} "${${table}}")
endforeach()

# Each action runs the installed handoff.exe as its custom action type, and
# comes right after another in its sequence table, on its condition.
foreach(row "InstallUISequence|ExecuteAction|RunHandoff|18|NOT Installed"
            "InstallExecuteSequence|InstallFinalize|RunHandoffNoWait|210|NOT Installed AND UILevel < 4")
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row table after action type expected)
  if(NOT (CustomAction MATCHES "\n${action}\t${type}\tHandoff\t"))
    string(REGEX MATCH "\n${action}\t[^\n]*" found "${CustomAction}")
    fail("${action} is not of type ${type}: '${found}'")
  endif()
  if(NOT ("${${table}}" MATCHES "\n${after}\t[^\t\n]*\t([0-9]+)\n"))
    fail("${table} lacks ${after}")
  else()
    math(EXPR next "${CMAKE_MATCH_1} + 1")
    string(REGEX MATCH "\n${action}\t[^\n]*" found "${${table}}")
    if(NOT (found STREQUAL "\n${action}\t${expected}\t${next}"))
      fail("${table}: ${action} at '${found}', not right after ${after} (${next} - 1) if '${expected}'")
    endif()
  endif()
endforeach()
if(InstallExecuteSequence MATCHES "\n(RunHandoff\t[^\n]*)")
  fail("InstallExecuteSequence waits for the prompt: ${CMAKE_MATCH_1}")
endif()
if(failures)
  message(FATAL_ERROR "${MSI}:${failures}")
endif()
message(STATUS "${MSI}: RunHandoff after ExecuteAction, or else RunHandoffNoWait after InstallFinalize")
