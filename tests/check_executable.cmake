# Reads a built handoff.exe as a loader would and checks what it carries:
#   cmake -DEXE=... -DMAP=... -DREADOBJ=... -DXMLLINT=... -DVERSION=...
#         -DBITS=32|64 -DSOURCE_DIR=... -DBINARY_DIR=... -P check_executable.cmake
# It looks at the executable itself, not at the sources it was made from: the
# header, imports, load configuration and resources as llvm-readobj reads
# them, the checksum as the image's bytes sum (image_reader.cmake); MAP, the
# linker's map, only says where the stack guard was placed.

set(failures "")
macro(fail message)
  string(APPEND failures "\n  ${message}")
endmacro()
include(${CMAKE_CURRENT_LIST_DIR}/check_manifest.cmake)

include(${CMAKE_CURRENT_LIST_DIR}/image_reader.cmake)
read_image_parts(${EXE} ${READOBJ})
foreach(part IN LISTS image_read_failed)
  fail("llvm-readobj --${part} cannot read ${EXE}")
endforeach()
string(REGEX MATCH "ImageBase: 0x([0-9A-F]+)" match "${file_headers}")
math(EXPR imageBase "0x0${CMAKE_MATCH_1}")

# The little-endian hex of `value` in `bytes` bytes, as the image holds it.
function(le_hex var value bytes)
  set(hex "")
  math(EXPR last "${bytes} * 8 - 8")
  foreach(shift RANGE 0 ${last} 8)
    math(EXPR byte "(${value}) >> ${shift} & 0xff | 0x100" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${byte}" 3 2 byte)
    string(APPEND hex "${byte}")
  endforeach()
  set(${var} "${hex}" PARENT_SCOPE)
endfunction()

# Nothing beyond Windows itself, and at start only what the window needs: the
# DLLs Windows resolves before any of the program's code runs are the KnownDLLs
# kernel32, user32, gdi32 and msvcrt, which Windows always takes from System32.
# The shell, COM and the registry are loaded on first use, Common Controls from
# System32 by the program, and nothing seeds the stack guard through a crypto
# provider. A delay-import directory would have a helper load its DLLs by the
# default search order; the program's own loader takes them from System32.
set(startupDlls kernel32 user32 gdi32 msvcrt)
string(REGEX MATCHALL "\n(Delay)?Import {\n  Name: [^\n]+" imports "${coff_imports}")
if(NOT (coff_imports MATCHES "\nImport {"))
  fail("no import table found")
endif()
foreach(import IN LISTS imports)
  string(REGEX MATCH "(Delay)?Import {\n  Name: ([^.\n]+)" match "${import}")
  string(TOLOWER "${CMAKE_MATCH_2}" dll)
  list(FIND startupDlls "${dll}" index)
  if(CMAKE_MATCH_1)
    fail("delay-imports ${dll}.dll through the directory: the program's loader takes its deferred DLLs from System32")
  elseif(NOT (index GREATER -1))
    fail("imports ${dll}.dll at start: only KnownDLLs the window needs belong there")
  endif()
endforeach()
if(coff_imports MATCHES "CryptAcquireContext|CryptGenRandom")
  fail("seeds its stack guard through a crypto provider")
endif()

# The oldest Windows that the manifest declares, 7 (6.1), as the operating
# system and the subsystem the image needs: below 6.0 Windows treats it as a
# program for Windows before Vista.
foreach(field MajorOperatingSystemVersion=6 MinorOperatingSystemVersion=1
              MajorSubsystemVersion=6 MinorSubsystemVersion=1)
  string(REPLACE "=" ";" field "${field}")
  list(GET field 0 name)
  list(GET field 1 expected)
  if(NOT (file_headers MATCHES "\n *${name}: ([0-9]+)\n"))
    fail("no ${name} in the header")
  elseif(NOT (CMAKE_MATCH_1 EQUAL expected))
    fail("${name} is ${CMAKE_MATCH_1}, not ${expected}")
  endif()
endforeach()

# The hardening the header declares: ASLR (on 64-bit over the whole address
# range), DEP, on 32-bit no SEH handlers (which no attacker's record on the
# stack can then name), and terminal-server aware.
string(REGEX MATCH "ImageOptionalHeader {.*\n  Characteristics \\[ \\(0x([0-9A-F]+)\\)" match "${file_headers}")
set(dllCharacteristics "0x0${CMAKE_MATCH_1}")
set(flags "0x0040=not built for ASLR (DYNAMIC_BASE)" "0x0100=not marked for DEP (NX_COMPAT)"
    "0x8000=not marked terminal-server aware (DllCharacteristics ${dllCharacteristics})")
if(BITS EQUAL 64)
  list(APPEND flags "0x0020=no HIGH_ENTROPY_VA")
else()
  list(APPEND flags "0x0400=not marked as holding no SEH handlers (NO_SEH), as an image without SafeSEH looks")
endif()
foreach(flag IN LISTS flags)
  string(SUBSTRING "${flag}" 0 6 bit)
  string(SUBSTRING "${flag}" 7 -1 message)
  math(EXPR set "${dllCharacteristics} & ${bit}")
  if(set EQUAL 0)
    fail("${message}")
  endif()
endforeach()

# The header's checksum is the image's, summed from its bytes.
check_image_checksum(wrongChecksum ${EXE})
if(wrongChecksum)
  fail("${wrongChecksum}")
endif()

# The resources: each entry's type, name, and where its data is.
image_resources(resources)
set(manifestCount 0)
set(iconCount 0)
foreach(resource IN LISTS resources)
  string(REPLACE "|" ";" resource "${resource}")
  list(GET resource 0 type)
  list(GET resource 1 name)
  list(GET resource 2 dataRva)
  list(GET resource 3 dataSize)
  read_image(data ${EXE} ${dataRva} ${dataSize})
  if(data STREQUAL "")
    fail("the resource ${type} ${name} lies outside the file's sections")
  elseif(type STREQUAL "MANIFEST (ID 24)")
    # One manifest, as resource 1 of type 24, which must be XML that Windows
    # accepts. Read as text, which holds no NUL byte: one would show as a
    # shorter text.
    math(EXPR manifestCount "${manifestCount} + 1")
    if(NOT (name EQUAL 1))
      fail("a manifest named ${name}, where Windows reads resource 1")
    endif()
    get_filename_component(exeName ${EXE} NAME_WE)
    set(workDir ${BINARY_DIR}/tests/${exeName}.check)
    file(MAKE_DIRECTORY ${workDir})
    file(READ ${EXE} manifest OFFSET ${data_offset} LIMIT ${dataSize})
    string(LENGTH "${manifest}" manifestLength)
    if(NOT (manifestLength EQUAL dataSize))
      fail("the manifest of ${dataSize} bytes reads as ${manifestLength}: it holds a NUL byte")
    endif()
    file(WRITE ${workDir}/embedded.manifest "${manifest}")
    check_manifest(${workDir}/embedded.manifest)
  elseif(type STREQUAL "ICON (ID 3)")
    math(EXPR iconCount "${iconCount} + 1")
    set(icon "${data}")
  elseif(type STREQUAL "VERSIONINFO (ID 16)")
    set(versionInfo "${data}")
  endif()
endforeach()
if(NOT (manifestCount EQUAL 1))
  fail("${manifestCount} manifests instead of one")
endif()

# Version information from the build's one version number: the fixed part
# after its signature 0xfeef04bd, then the texts in UTF-16, each key padded to
# 32 bits before its value.
string(REPLACE "." ";" parts "${VERSION}.0")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
le_hex(ms "(${major} << 16) | ${minor}" 4)
le_hex(ls "${patch} << 16" 4)
string(REPLACE "." ", " versionList "${VERSION}")
if(NOT (versionInfo MATCHES "bd04effe00000100${ms}${ls}"))
  fail("the version information lacks FILEVERSION ${versionList}, 0")
endif()
if(NOT (versionInfo MATCHES "bd04effe00000100................${ms}${ls}"))
  fail("the version information lacks PRODUCTVERSION ${versionList}, 0")
endif()
foreach(text "FileVersion=${VERSION}" "ProductVersion=${VERSION}"
             "FileDescription=Schedules installed files for the handheld" "OriginalFilename=handoff.exe")
  string(REGEX MATCH "^[^=]+" key "${text}")
  string(REGEX REPLACE "^[^=]+=" "" value "${text}")
  foreach(part key value)
    string(HEX "${${part}}" ${part}Hex)
    string(REGEX REPLACE "(..)" "\\100" ${part}Hex "${${part}Hex}")
  endforeach()
  if(NOT (versionInfo MATCHES "${keyHex}0000(0000)?${valueHex}0000"))
    fail("the version information lacks VALUE \"${key}\", \"${value}\"")
  endif()
endforeach()

# The application icon: one image, 32 x 32 pixels, 16 colours: its bitmap
# header of 40 bytes, 32 wide, twice 32 high (the image and its mask), one
# plane of 4 bits a pixel.
if(NOT (iconCount EQUAL 1))
  fail("${iconCount} icon images instead of one")
endif()
if(NOT (icon MATCHES "^28000000200000004000000001000400"))
  fail("the icon is not 32 x 32 in 4 bits a pixel")
endif()

# Nothing of when or where it was built, so that a rebuild gives the same
# bytes: a time/date stamp of 0 in the COFF header, and neither the source nor
# the build folder at the start of any text in it, as a compiled-in file name is.
string(REGEX MATCH "ImageFileHeader {[^}]*TimeDateStamp: [^\n]*\\((0x[0-9A-F]+)\\)" match "${file_headers}")
if(NOT (CMAKE_MATCH_1 STREQUAL "0x0"))
  fail("the header's time/date stamp is ${CMAKE_MATCH_1}, not 0: a build time")
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

# The load configuration: DependentLoadFlags of LOAD_LIBRARY_SEARCH_SYSTEM32,
# and a security cookie at the stack guard (where the linker's map puts
# __stack_chk_guard) that holds the documented default, for the loader to
# replace.
if(BITS EQUAL 64)
  set(expectedSize 112)
  set(pointer 8)
  le_hex(defaultCookie 0x00002B992DDFA232 8)
else()
  set(expectedSize 72)
  set(pointer 4)
  le_hex(defaultCookie 0xBB40E64E 4)
endif()
if(NOT (coff_load_config MATCHES "LoadConfig \\[\n  Size: (0x[0-9A-F]+)\n"))
  fail("no load configuration directory")
else()
  math(EXPR size "${CMAKE_MATCH_1}")
  string(REGEX MATCH "LoadConfigTableSize: (0x[0-9A-F]+)" match "${file_headers}")
  math(EXPR directory "${CMAKE_MATCH_1}")
  if(NOT (size EQUAL expectedSize AND directory EQUAL expectedSize))
    fail("the load configuration is ${size} bytes, its directory ${directory}, not ${expectedSize}")
  endif()
  string(REGEX MATCH "DependentLoadFlags: (0x[0-9A-F]+)" match "${coff_load_config}")
  if(NOT (CMAKE_MATCH_1 STREQUAL "0x800"))
    fail("DependentLoadFlags is ${CMAKE_MATCH_1}, not LOAD_LIBRARY_SEARCH_SYSTEM32")
  endif()
  string(REGEX MATCH "SecurityCookie: (0x[0-9A-F]+)" match "${coff_load_config}")
  set(cookie ${CMAKE_MATCH_1})
  file(STRINGS ${MAP} guard REGEX "^ +0x[0-9a-f]+ +_?__stack_chk_guard$")
  string(REGEX MATCH "0x[0-9a-f]+" guard "${guard}0x0")
  math(EXPR cookieRva "${cookie} - ${imageBase}")
  read_image(value ${EXE} ${cookieRva} ${pointer})
  if(cookie STREQUAL "0x0")
    fail("no security cookie")
  elseif(NOT (cookie EQUAL guard))
    fail("the security cookie is at ${cookie}, the stack guard at ${guard}")
  elseif(value STREQUAL "")
    fail("the security cookie lies outside the image's sections")
  elseif(NOT (value STREQUAL defaultCookie))
    fail("the security cookie holds 0x${value} (bytes in file order), not the default the loader replaces")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "${EXE}:${failures}")
endif()
message(STATUS "${EXE}: system DLLs only, KnownDLLs at start, load configuration, ASLR, DEP, "
               "no SEH handlers (32-bit), Windows 6.1 and terminal-server aware, a right checksum, "
               "a manifest Windows accepts, version ${VERSION}, icon, no build time or folder")
