# Reads a built handoff.exe as a loader would and checks what it carries:
#   cmake -DEXE=... -DOBJDUMP=... -DWINDRES=... -DVERSION=... -DBITS=32|64
#         -DSOURCE_DIR=... -DBINARY_DIR=... -P check_executable.cmake
# It looks at the executable itself, not at the sources it was made from.

set(failures "")
macro(fail message)
  string(APPEND failures "\n  ${message}")
endmacro()
# Fails for each of the texts that `resources` lacks, naming `what` lacks it.
macro(require_texts what)
  foreach(needed ${ARGN})
    string(FIND "${resources}" "${needed}" at)
    if(NOT (at GREATER -1))
      fail("${what} lacks ${needed}")
    endif()
  endforeach()
endmacro()

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT (result EQUAL 0))
  fail("objdump cannot read ${EXE}")
endif()

# Nothing beyond Windows itself: every imported DLL is a system one.
set(systemDlls kernel32 user32 gdi32 advapi32 shell32 comctl32 ole32 oleaut32 msvcrt)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT (imports))
  fail("no import table found")
endif()
foreach(import IN LISTS imports)
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL].*" "\\1" dll "${import}")
  string(TOLOWER "${dll}" dll)
  list(FIND systemDlls "${dll}" index)
  if(NOT (index GREATER -1))
    fail("imports ${import}, which is not a system DLL")
  endif()
endforeach()

# ASLR and DEP, and on 64-bit the whole address range for ASLR.
if(NOT (headers MATCHES "DYNAMIC_BASE"))
  fail("not built for ASLR (DYNAMIC_BASE)")
endif()
if(NOT (headers MATCHES "NX_COMPAT"))
  fail("not marked for DEP (NX_COMPAT)")
endif()
if(BITS EQUAL 64)
  if(NOT (headers MATCHES "HIGH_ENTROPY_VA"))
    fail("no HIGH_ENTROPY_VA")
  endif()
endif()

# The oldest Windows that the manifest declares, 7 (6.1), as the operating
# system and the subsystem the image needs: below 6.0 Windows treats it as a
# program for Windows before Vista. And terminal-server aware, bit 0x8000.
foreach(field MajorOSystemVersion=6 MinorOSystemVersion=1 MajorSubsystemVersion=6
              MinorSubsystemVersion=1)
  string(REPLACE "=" ";" field "${field}")
  list(GET field 0 name)
  list(GET field 1 expected)
  if(NOT (headers MATCHES "\n${name}[ \t]+([0-9]+)\n"))
    fail("no ${name} in the header")
  elseif(NOT (CMAKE_MATCH_1 EQUAL expected))
    fail("${name} is ${CMAKE_MATCH_1}, not ${expected}")
  endif()
endforeach()
if(NOT (headers MATCHES "\nDllCharacteristics[ \t]+([0-9a-fA-F]+)\n"))
  fail("no DllCharacteristics in the header")
else()
  math(EXPR terminalServerAware "0x${CMAKE_MATCH_1} & 0x8000")
  if(terminalServerAware EQUAL 0)
    fail("not marked terminal-server aware (DllCharacteristics 0x${CMAKE_MATCH_1})")
  endif()
endif()

execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE result)
if(NOT (result EQUAL 0))
  fail("windres cannot read the resources of ${EXE}")
endif()

# One manifest, as resource 1 of type 24, with what the program needs of it.
string(REGEX MATCHALL "\n1 24 /\\* RT_MANIFEST \\*/" manifests "${resources}")
list(LENGTH manifests manifestCount)
if(NOT (manifestCount EQUAL 1))
  fail("${manifestCount} manifests instead of one")
endif()
require_texts("the manifest"
    "requestedExecutionLevel level=\"\"asInvoker\"\""
    "<dpiAware xmlns=\"\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\"\">true</dpiAware>"
    "<activeCodePage xmlns=\"\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\"\">UTF-8</activeCodePage>"
    "name=\"\"Microsoft.Windows.Common-Controls\"\" version=\"\"6.0.0.0\"\""
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")

# Version information from the build's one version number.
string(REPLACE "." ", " versionList "${VERSION}")
require_texts("the version information"
    "FILEVERSION ${versionList}, 0"
    "PRODUCTVERSION ${versionList}, 0"
    "VALUE \"FileVersion\", \"${VERSION}\""
    "VALUE \"ProductVersion\", \"${VERSION}\""
    "VALUE \"FileDescription\", \"Schedules installed files for the handheld\""
    "VALUE \"OriginalFilename\", \"handoff.exe\"")

# The application icon: one image, 32 x 32 pixels, 16 colours.
string(REGEX MATCHALL "\n[0-9]+ 3 /\\* RT_ICON \\*/" icons "${resources}")
list(LENGTH icons iconCount)
if(NOT (iconCount EQUAL 1))
  fail("${iconCount} icon images instead of one")
endif()
if(NOT (resources MATCHES "RT_ICON \\*/\nBEGIN\n  0x28L *, 0x20L *, 0x40L *, 0x40001L"))
  fail("the icon is not 32 x 32 in 4 bits a pixel")
endif()

# Nothing of when or where it was built, so that a rebuild gives the same
# bytes: a time/date stamp of 0 in the COFF header (at 8 past the PE signature,
# whose offset the DOS header holds at 0x3c), and neither the source nor the
# build folder at the start of any text in it, as a compiled-in file name is.
file(READ ${EXE} signatureOffset OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" signatureOffset "${signatureOffset}")
math(EXPR stampOffset "0x${signatureOffset} + 8")
file(READ ${EXE} stamp OFFSET ${stampOffset} LIMIT 4 HEX)
if(NOT (stamp STREQUAL "00000000"))
  fail("the header's time/date stamp is ${stamp} (bytes in file order), not 0: a build time")
endif()
foreach(folder ${SOURCE_DIR} ${BINARY_DIR})
  string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" pattern "${folder}")
  foreach(encoding UTF-8 UTF-16LE)
    file(STRINGS ${EXE} named REGEX "^${pattern}/" ENCODING ${encoding})
    if(named)
      list(GET named 0 first)
      fail("names the build's folder ${folder} (${encoding}): ${first}")
    endif()
  endforeach()
endforeach()

# The DLLs Windows resolves before any of the program's code runs are the
# KnownDLLs the window needs, which Windows always takes from System32; the
# shell, COM and the registry are loaded on first use, Common Controls from
# System32 by the program, and nothing seeds the stack guard through a crypto
# provider.
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
foreach(import IN LISTS imports)
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL].*" "\\1" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT (dll MATCHES "^(kernel32|user32|gdi32|msvcrt)$"))
    fail("imports ${dll}.dll at start: only KnownDLLs the window needs belong there")
  endif()
endforeach()
if(headers MATCHES "CryptAcquireContext|CryptGenRandom")
  fail("seeds its stack guard through a crypto provider")
endif()

# The load configuration: DependentLoadFlags of LOAD_LIBRARY_SEARCH_SYSTEM32,
# and a security cookie that holds the documented default, for the loader to
# replace, at the stack guard. Little-endian fields read from the file.
function(read_le offset length out)
  file(READ ${EXE} bytes OFFSET ${offset} LIMIT ${length} HEX)
  string(REGEX MATCHALL ".." pairs "${bytes}")
  list(REVERSE pairs)
  string(JOIN "" value ${pairs})
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
# Where the file holds an address of the image (relative to its base).
function(file_offset_of rva out)
  set(${out} "" PARENT_SCOPE)
  string(REGEX MATCHALL "\n +[0-9]+ [^ ]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+" rows "${sections}")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE ".* ([0-9a-f]+) +([0-9a-f]+) +[0-9a-f]+ +([0-9a-f]+)$" "\\1;\\2;\\3" row "${row}")
    list(GET row 0 size)
    list(GET row 1 vma)
    list(GET row 2 offset)
    math(EXPR start "0x${vma} - ${imageBase}")
    math(EXPR end "${start} + 0x${size}")
    if(rva GREATER_EQUAL start AND rva LESS end)
      math(EXPR at "${rva} - ${start} + 0x${offset}")
      set(${out} ${at} PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
execute_process(COMMAND ${OBJDUMP} -h ${EXE} OUTPUT_VARIABLE sections)
string(REGEX MATCH "ImageBase[\t ]+([0-9a-fA-F]+)" match "${headers}")
math(EXPR imageBase "0x${CMAKE_MATCH_1}")
string(REGEX MATCH "Entry a ([0-9a-f]+) ([0-9a-f]+) Load Configuration Directory" match "${headers}")
math(EXPR configRva "0x${CMAKE_MATCH_1}")
if(configRva EQUAL 0)
  fail("no load configuration directory")
else()
  if(BITS EQUAL 64)
    set(expectedSize 112)
    set(flagsAt 78)
    set(cookieAt 88)
    set(pointer 8)
    set(defaultCookie 00002b992ddfa232)
  else()
    set(expectedSize 72)
    set(flagsAt 54)
    set(cookieAt 60)
    set(pointer 4)
    set(defaultCookie bb40e64e)
  endif()
  file_offset_of(${configRva} config)
  read_le(${config} 4 size)
  math(EXPR flags "0x${CMAKE_MATCH_2}")
  math(EXPR size "0x${size}")
  if(NOT (size EQUAL expectedSize AND flags EQUAL expectedSize))
    fail("the load configuration is ${size} bytes, its directory ${flags}, not ${expectedSize}")
  endif()
  math(EXPR at "${config} + ${flagsAt}")
  read_le(${at} 2 flags)
  if(NOT (flags STREQUAL "0800"))
    fail("DependentLoadFlags is 0x${flags}, not LOAD_LIBRARY_SEARCH_SYSTEM32")
  endif()
  math(EXPR at "${config} + ${cookieAt}")
  read_le(${at} ${pointer} cookie)
  math(EXPR cookieRva "0x${cookie} - ${imageBase}")
  file_offset_of(${cookieRva} cookieOffset)
  if(cookieOffset STREQUAL "")
    fail("the security cookie lies outside the image's sections")
  else()
    read_le(${cookieOffset} ${pointer} value)
    if(NOT (value STREQUAL defaultCookie))
      fail("the security cookie holds 0x${value}, not the default the loader replaces")
    endif()
  endif()
endif()

if(failures)
  message(FATAL_ERROR "${EXE}:${failures}")
endif()
message(STATUS "${EXE}: system DLLs only, KnownDLLs at start, load configuration, ASLR and "
               "DEP, Windows 6.1 and terminal-server aware, manifest, version ${VERSION}, icon, "
               "no build time or folder")
