# Reading a PE image with llvm-readobj, for the checks of the programs we
# build: what it prints of each part, where an image address lies in the file,
# and the resources; and whether its checksum is right, from its bytes.
#   include(image_reader.cmake); read_image_parts(EXE READOBJ) sets file_headers,
#   sections, coff_imports, coff_load_config and coff_resources (what
#   llvm-readobj prints for each), and image_read_failed where it could not;
#   check_image_checksum(VAR EXE) needs neither. Also a command (see the end).

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

# Whether the header's checksum is the image's: `var` gets "" where it is, and
# otherwise says what each is. The sum is the one Windows' CheckSumMappedFile
# makes and tools that verify images check: the file's 16-bit little-endian
# words, the checksum field read as 0, added with each carry folded back in,
# plus the file's length. Read from the bytes themselves, so that it does not
# depend on any tool's version or wording. The words are added in chunks as
# one expression each; 64 bits hold any plain sum of them, folded at the end,
# which gives what folding at each step gives.
function(check_image_checksum var exe)
  file(READ ${exe} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR length "${hexLength} / 2")
  # The PE header from the DOS header's e_lfanew at 0x3c; the checksum 88 bytes on.
  set(at -1)
  if(hex MATCHES "^4d5a" AND hexLength GREATER 128)
    string(SUBSTRING "${hex}" 120 8 at)
    string(REGEX REPLACE "(..)(..)(..)(..)" "(0x\\4\\3\\2\\1 + 88) * 2" at "${at}")
    math(EXPR at "${at}")
  endif()
  math(EXPR last "${hexLength} - 8")
  if(at LESS 0 OR at GREATER last)
    set(${var} "not a PE image" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${hex}" ${at} 8 field)
  string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" header "${field}")
  # The field's words are in the plain sum: taken off again.
  string(REGEX REPLACE "(..)(..)(..)(..)" "0-0x\\2\\1-0x\\4\\3" sum "${field}")
  if(length MATCHES "[13579]$")
    string(APPEND hex "00")
  endif()
  foreach(chunk RANGE 0 ${hexLength} 4096)
    string(SUBSTRING "${hex}" ${chunk} 4096 words)
    string(REGEX REPLACE "(..)(..)" "+0x\\2\\1" words "${words}")
    math(EXPR sum "${sum}${words}")
  endforeach()
  while(sum GREATER 0xffff)
    math(EXPR sum "(${sum} & 0xffff) + (${sum} >> 16)")
  endwhile()
  math(EXPR sum "${sum} + ${length}")
  set(${var} "" PARENT_SCOPE)
  if(NOT (sum EQUAL header))
    foreach(value header sum)
      math(EXPR ${value} "${${value}}" OUTPUT_FORMAT HEXADECIMAL)
      string(REGEX REPLACE "^0x" "" ${value} "${${value}}")
      string(TOUPPER "${${value}}" ${value})
    endforeach()
    set(${var} "the header's checksum is 0x${header}, the image sums to 0x${sum}" PARENT_SCOPE)
  endif()
endfunction()

# As a command, for the checks that are not CMake scripts:
#   cmake -DCHECKSUM_OF=PROGRAM.exe -P image_reader.cmake
# fails, naming both, where the header's checksum is not the image's.
if(DEFINED CHECKSUM_OF)
  check_image_checksum(wrong ${CHECKSUM_OF})
  if(wrong)
    message(FATAL_ERROR "${CHECKSUM_OF}: ${wrong}")
  endif()
endif()
