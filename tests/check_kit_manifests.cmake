# Checks that each program of the test kit carries a manifest that runs it as
# the user who starts it (requestedExecutionLevel asInvoker). Without one,
# Windows' installer detection takes a 32-bit program whose name says
# "install" or "setup" for an installer and asks for elevation, and
# CreateProcess fails with 740 (ERROR_ELEVATION_REQUIRED) for an ordinary user:
#   cmake -DFOLDER=<kit folder> | -DPROGRAMS=<a;b> -DREADOBJ=... -DXMLLINT=...
#         -DWORK_DIR=... -P check_kit_manifests.cmake
# FOLDER checks every .exe in it, so that a program added to the kit is held
# to this too.

if(FOLDER)
  file(GLOB PROGRAMS ${FOLDER}/*.exe)
endif()
if(NOT PROGRAMS)
  message(FATAL_ERROR "no programs in ${FOLDER}")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/check_manifest.cmake)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(fileName ${program} NAME)
  set(manifest ${WORK_DIR}/${fileName}.manifest)
  file(REMOVE ${manifest})
  read_image_parts(${program} ${READOBJ} sections coff-resources)
  image_manifest(${program} ${manifest})
  if(EXISTS ${manifest})
    require_element(${manifest} "${fileName}'s execution level" "${executionLevel}[@level='asInvoker']")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "kit programs without a manifest that runs them asInvoker:${failures}")
endif()
list(LENGTH PROGRAMS count)
message(STATUS "each of ${count} programs carries a manifest that runs it asInvoker")
