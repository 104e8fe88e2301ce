# Reading a PE image with llvm-readobj, for the checks of the programs we
# build: what it prints of each part, where an image address lies in the file,
# the resources and the manifest; and whether its checksum is right, from its
# bytes. Also what the checks share: fail(MESSAGE) gathers what they find.
#   include(image_reader.cmake); read_image_parts(EXE READOBJ PART...) sets,
#   for each part such as coff-resources, coff_resources to what llvm-readobj
#   prints of it, and fails where it could not;
#   check_image_checksum(VAR EXE) needs neither. Also a command (see the end).

cmake_minimum_required(VERSION 3.25)
set(failures "")
macro(fail message)
  string(APPEND failures "\n  ${message}")
endmacro()

macro(read_image_parts exe readobj)
  foreach(imagePart ${ARGN})
    string(MAKE_C_IDENTIFIER ${imagePart} imageVar)
    execute_process(COMMAND ${readobj} --${imagePart} ${exe} OUTPUT_VARIABLE ${imageVar} RESULT_VARIABLE imageResult
                    ERROR_QUIET)
    if(NOT (imageResult EQUAL 0))
      fail("llvm-readobj --${imagePart} cannot read ${exe}")
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
# resource, "TYPE|NAME|OFFSET|SIZE", as llvm-readobj names the type and name
# ("MANIFEST (ID 24)", "1"), OFFSET where the file holds its data; fails for
# one that lies outside the file's sections. (A "[" would join the list's
# items: the entries end before it.)
macro(image_resources var exe)
  string(REGEX MATCHALL "\n *(Type|Name): [^\n[]+|\n *DataRVA: 0x[0-9A-F]+\n *DataSize: [0-9]+" entries
         "${coff_resources}")
  set(${var} "")
  foreach(entry IN LISTS entries)
    if(entry MATCHES "Type: ([^\n]+) $")
      set(type "${CMAKE_MATCH_1}")
    elseif(entry MATCHES "Name: (\\(ID )?([^\n)]+)\\)? $")
      set(name "${CMAKE_MATCH_2}")
    elseif(entry MATCHES "DataRVA: (0x[0-9A-F]+)\n *DataSize: ([0-9]+)")
      set(size ${CMAKE_MATCH_2})
      read_image(data ${exe} ${CMAKE_MATCH_1} ${size})
      if(data STREQUAL "")
        fail("the resource ${type} ${name} lies outside the file's sections")
      else()
        list(APPEND ${var} "${type}|${name}|${data_offset}|${size}")
      endif()
    endif()
  endforeach()
endmacro()

# The manifest of the image read by read_image_parts, which Windows reads from
# resource 1 of type 24, written to `file`; fails unless there is exactly that
# one, or for a NUL byte in it, which would cut the text short.
macro(image_manifest exe file)
  get_filename_component(imageName ${exe} NAME)
  image_resources(manifests ${exe})
  list(FILTER manifests INCLUDE REGEX "^MANIFEST \\(ID 24\\)")
  list(LENGTH manifests manifestCount)
  if(NOT (manifests MATCHES "^MANIFEST \\(ID 24\\)\\|1\\|([0-9]+)\\|([0-9]+)$"))
    fail("${imageName}: ${manifestCount} manifests (resource 1 of type 24) instead of one: ${manifests}")
  else()
    set(manifestAt OFFSET ${CMAKE_MATCH_1} LIMIT ${CMAKE_MATCH_2})
    file(READ ${exe} manifestText ${manifestAt} HEX)
    if(manifestText MATCHES "^(..)*00")
      fail("${imageName}: the manifest holds a NUL byte")
    endif()
    file(READ ${exe} manifestText ${manifestAt})
    file(WRITE ${file} "${manifestText}")
  endif()
endmacro()

# Whether the header's checksum is the image's: `var` gets "" where it is, and
# otherwise says what each is. The sum is the one Windows' CheckSumMappedFile
# makes and tools that verify images check: the file's 16-bit little-endian
# words, the checksum field read as 0, added with each carry folded back in,
# plus the file's length. Read from the bytes themselves, so that it does not
# depend on any tool's version or wording, nor on tools/set-load-config, which
# writes it. The words are added in chunks as one expression each; 64 bits
# hold any plain sum of them, folded at the end, which gives what folding at
# each step gives.
function(check_image_checksum var exe)
  file(READ ${exe} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR length "${hexLength} / 2")
  # The field 88 bytes into the PE header, which e_lfanew (at 0x3c) points at.
  string(SUBSTRING "${hex}" 120 8 at)
  string(REGEX REPLACE "(..)(..)(..)(..)" "(0x\\4\\3\\2\\1 + 88) * 2" at "${at}")
  math(EXPR at "${at}")
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
      string(TOUPPER "${${value}}" ${value})
    endforeach()
    string(REPLACE "0X" "0x" wrong "the header's checksum is ${header}, the image sums to ${sum}")
    set(${var} "${wrong}" PARENT_SCOPE)
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
