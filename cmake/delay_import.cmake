# handoff_delay_import(NAME DEF): the imported library NAME_delayed, an import
# library for the functions that DEF lists, whose DLL is loaded on the first
# call into it instead of when the program starts. The start-up of the window
# then loads no DLL it does not use, and a DLL loaded after start-up comes
# from System32 only: the library's first calls go to the loader in
# system/system_library.c.
#
# DEF names each function as 32-bit Windows decorates it (Name@bytes); the
# 64-bit library drops the decoration, as 64-bit Windows does.
find_program(MINGW_DLLTOOL ${MINGW_TRIPLE}-dlltool REQUIRED)
function(handoff_delay_import name def)
  set(folder ${PROJECT_BINARY_DIR}/delayimp)
  set(library ${folder}/lib${name}_delayed.a)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${def})
  file(READ ${source} exports)
  set(keep "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "@[0-9]+" "" exports "${exports}")
  else()
    # 32-bit ld drops the code of an import member whose own symbol nothing
    # names, as callers only name its __imp_ slot; that code is the thunk that
    # loads the DLL, and the slot would point at nothing. Name each one.
    string(REGEX MATCHALL "\n[A-Za-z_][A-Za-z0-9_]*@[0-9]+" functions "${exports}")
    foreach(function IN LISTS functions)
      string(STRIP "${function}" function)
      list(APPEND keep "LINKER:--undefined=_${function}")
    endforeach()
  endif()
  file(CONFIGURE OUTPUT ${folder}/${name}.def CONTENT "${exports}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  # -k: the DLL exports the undecorated names.
  add_custom_command(OUTPUT ${library}
                     COMMAND ${MINGW_DLLTOOL} -k -d ${folder}/${name}.def -y ${library}
                     DEPENDS ${folder}/${name}.def
                     WORKING_DIRECTORY ${folder})
  add_custom_target(${name}_delayed_library DEPENDS ${library})
  add_library(${name}_delayed STATIC IMPORTED GLOBAL)
  set_target_properties(${name}_delayed PROPERTIES IMPORTED_LOCATION ${library}
                        INTERFACE_LINK_LIBRARIES system INTERFACE_LINK_OPTIONS "${keep}")
  add_dependencies(${name}_delayed ${name}_delayed_library)
endfunction()
