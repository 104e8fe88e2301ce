# Reading a PE image with llvm-readobj, for the checks of the programs we
# build: what it prints of each part, where an image address lies in the file,
# and the resources.
#   include(image_reader.cmake); read_image_parts(EXE READOBJ) sets file_headers,
#   sections, coff_imports, coff_load_config and coff_resources (what
#   llvm-readobj prints for each), and image_read_failed where it could not.

macro(read_image_parts exe readobj)
  set(image_read_failed "")
  foreach(imagePart file-headers sections coff-imports coff-load-config coff-resources)
    string(MAKE_C_IDENTIFIER ${imagePart} imageVar)
    execute_process(COMMAND ${readobj} --${imagePart} ${exe} OUTPUT_VARIABLE ${imageVar} RESULT_VARIABLE imageResult
                    ERROR_QUIET)
    if(NOT (imageResult EQUAL 0))
      list(APPEND image_read_failed ${imagePart})
    endif()
  endforeach()
endmacro()

# `bytes` bytes at the image address `rva` (relative to its base) of `exe` as
# hex, and in `var`_offset where the file holds them; "" when no section holds
# them in the file.
function(read_image var exe rva bytes)
  set(${var} "" PARENT_SCOPE)
  string(REGEX MATCHALL "VirtualAddress: 0x[0-9A-F]+\n *RawDataSize: [0-9]+\n *PointerToRawData: 0x[0-9A-F]+"
         rows "${sections}")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "0x([0-9A-F]+)\n *RawDataSize: ([0-9]+)\n *PointerToRawData: 0x([0-9A-F]+)" row "${row}")
    math(EXPR offset "${rva} - 0x${CMAKE_MATCH_1}")
    math(EXPR last "${CMAKE_MATCH_2} - ${bytes}")
    if(offset GREATER_EQUAL 0 AND offset LESS_EQUAL last)
      math(EXPR offset "${offset} + 0x${CMAKE_MATCH_3}")
      file(READ ${exe} hex OFFSET ${offset} LIMIT ${bytes} HEX)
      set(${var} "${hex}" PARENT_SCOPE)
      set(${var}_offset ${offset} PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# The resources of the image read by read_image_parts, in `var`: one item a
# resource, "TYPE|NAME|RVA|SIZE", as llvm-readobj names the type and name
# ("MANIFEST (ID 24)", "1"). (A "[" would join the list's items: the entries
# end before it.)
function(image_resources var)
  string(REGEX MATCHALL "\n *(Type|Name): [^\n[]+|\n *DataRVA: 0x[0-9A-F]+\n *DataSize: [0-9]+" entries
         "${coff_resources}")
  set(found "")
  foreach(entry IN LISTS entries)
    if(entry MATCHES "Type: ([^\n]+) $")
      set(type "${CMAKE_MATCH_1}")
    elseif(entry MATCHES "Name: \\(ID ([0-9]+)\\)")
      set(name ${CMAKE_MATCH_1})
    elseif(entry MATCHES "Name: ([^\n]+) $")
      set(name "${CMAKE_MATCH_1}")
    elseif(entry MATCHES "DataRVA: 0x([0-9A-F]+)\n *DataSize: ([0-9]+)")
      math(EXPR rva "0x${CMAKE_MATCH_1}")
      list(APPEND found "${type}|${name}|${rva}|${CMAKE_MATCH_2}")
    endif()
  endforeach()
  set(${var} "${found}" PARENT_SCOPE)
endfunction()
