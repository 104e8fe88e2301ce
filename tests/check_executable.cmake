# Reads a built handoff.exe as a loader would and checks what it carries:
#   cmake -DEXE=... -DMAP=... -DREADOBJ=... -DXMLLINT=... -DVERSION=...
#         -DBITS=32|64 -DSOURCE_DIR=... -DBINARY_DIR=... -P check_executable.cmake
# It looks at the executable itself, not at the sources it was made from: the
# header, imports, load configuration and resources as llvm-readobj reads
# them, the checksum as the image's bytes sum (image_reader.cmake); MAP, the
# linker's map, only says where the stack guard was placed.

include(${CMAKE_CURRENT_LIST_DIR}/check_manifest.cmake)
read_image_parts(${EXE} ${READOBJ} file-headers sections coff-imports coff-load-config coff-resources)

# What the image must hold, as rows of three: the text (one of llvm-readobj's
# parts, or the bytes of a resource in hex), a pattern it must match, and what
# the check says where it does not.
#
# The oldest Windows that the manifest declares, 7 (6.1), as the operating
# system and the subsystem the image needs: below 6.0 Windows treats it as a
# program for Windows before Vista. The hardening the header declares: ASLR
# (on 64-bit over the whole address range), DEP, on 32-bit no SEH handlers
# (which no attacker's record on the stack can then name), and terminal-server
# aware. Nothing of when it was built: a time/date stamp of 0.
set(flag "\n *IMAGE_DLL_CHARACTERISTICS_")
set(expected
    file_headers "\n *MajorOperatingSystemVersion: 6\n *MinorOperatingSystemVersion: 1\n" "the OS version is not 6.1"
    file_headers "\n *MajorSubsystemVersion: 6\n *MinorSubsystemVersion: 1\n" "the subsystem version is not 6.1"
    file_headers "${flag}DYNAMIC_BASE " "not built for ASLR (DYNAMIC_BASE)"
    file_headers "${flag}NX_COMPAT " "not marked for DEP (NX_COMPAT)"
    file_headers "${flag}TERMINAL_SERVER_AWARE " "not marked terminal-server aware"
    file_headers "\n *TimeDateStamp: [^\n]*\\(0x0\\)\n" "the header's time/date stamp is not 0: a build time"
    coff_imports "\nImport {" "no import table found")
if(BITS EQUAL 64)
  list(APPEND expected file_headers "${flag}HIGH_ENTROPY_VA " "no HIGH_ENTROPY_VA")
else()
  list(APPEND expected file_headers "${flag}NO_SEH "
       "not marked as holding no SEH handlers (NO_SEH), as an image without SafeSEH looks")
endif()

# Nothing beyond Windows itself, and at start only what the window needs: the
# DLLs Windows resolves before any of the program's code runs are the KnownDLLs
# kernel32, user32, gdi32 and msvcrt, which Windows always takes from System32.
# The shell, COM and the registry are loaded on first use, Common Controls from
# System32 by the program, and nothing seeds the stack guard through a crypto
# provider. A delay-import directory would have a helper load its DLLs by the
# default search order; the program's own loader takes them from System32.
string(REGEX MATCHALL "\n(Delay)?Import {\n  Name: [^\n]+" imports "${coff_imports}")
foreach(import IN LISTS imports)
  string(REGEX MATCH "(Delay)?Import {\n  Name: ([^.\n]+)" match "${import}")
  string(TOLOWER "${CMAKE_MATCH_2}" dll)
  if(CMAKE_MATCH_1)
    fail("delay-imports ${dll}.dll through the directory: the program's loader takes its deferred DLLs from System32")
  elseif(NOT (dll MATCHES "^(kernel32|user32|gdi32|msvcrt)$"))
    fail("imports ${dll}.dll at start: only KnownDLLs the window needs belong there")
  endif()
endforeach()
if(coff_imports MATCHES "CryptAcquireContext|CryptGenRandom")
  fail("seeds its stack guard through a crypto provider")
endif()

# The header's checksum is the image's, summed from its bytes.
check_image_checksum(wrongChecksum ${EXE})
if(wrongChecksum)
  fail("${wrongChecksum}")
endif()

# One manifest, which must be XML that Windows accepts.
get_filename_component(exeName ${EXE} NAME_WE)
set(manifest ${BINARY_DIR}/tests/${exeName}.check/embedded.manifest)
image_manifest(${EXE} ${manifest})
if(EXISTS ${manifest})
  check_manifest(${manifest})
  file(REMOVE ${manifest})
endif()

# Version information from the build's one version number: the fixed part
# after its signature 0xfeef04bd, FILEVERSION then PRODUCTVERSION as 16-bit
# words minor, major, 0, patch; then the texts in UTF-16, each key padded to
# 32 bits before its value.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" version "${VERSION}")
set(words "")
foreach(word ${CMAKE_MATCH_2} ${CMAKE_MATCH_1} 0 ${CMAKE_MATCH_3})
  math(EXPR word "${word} | 0x10000" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x1(..)(..)$" "${words}\\2\\1" words "${word}")
endforeach()
string(REPLACE "." ", " versionList "${VERSION}")
list(APPEND expected resourceV "bd04effe00000100${words}" "the version information lacks FILEVERSION ${versionList}, 0"
     resourceV "bd04effe00000100................${words}"
     "the version information lacks PRODUCTVERSION ${versionList}, 0")
foreach(text "FileVersion=${VERSION}" "ProductVersion=${VERSION}"
             "FileDescription=Schedules installed files for the handheld" "OriginalFilename=handoff.exe")
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  string(REPLACE "3d00" "0000(0000)?" hex "${hex}")
  string(REPLACE "=" "\", \"" text "${text}")
  list(APPEND expected resourceV "${hex}0000" "the version information lacks VALUE \"${text}\"")
endforeach()

# The version information (resourceV) and the application icon (resourceI):
# one image, 32 x 32 pixels, 16 colours: its bitmap header of 40 bytes, 32
# wide, twice 32 high (the image and its mask), one plane of 4 bits a pixel.
image_resources(resources ${EXE})
list(FILTER resources INCLUDE REGEX "^(ICON \\(ID 3\\)|VERSIONINFO \\(ID 16\\))\\|")
list(LENGTH resources count)
if(NOT (count EQUAL 2))
  fail("${count} icon images and version information resources instead of one of each: ${resources}")
endif()
foreach(resource IN LISTS resources)
  string(REGEX MATCH "^(I|V)[^|]*\\|[^|]*\\|([0-9]+)\\|([0-9]+)$" match "${resource}")
  file(READ ${EXE} resource${CMAKE_MATCH_1} OFFSET ${CMAKE_MATCH_2} LIMIT ${CMAKE_MATCH_3} HEX)
endforeach()
list(APPEND expected resourceI "^28000000200000004000000001000400" "the icon is not 32 x 32 in 4 bits a pixel")

# The load configuration: its size as the directory gives it too,
# DependentLoadFlags of LOAD_LIBRARY_SEARCH_SYSTEM32, and a security cookie at
# the stack guard (where the linker's map puts __stack_chk_guard) that holds
# the documented default (0x00002B992DDFA232 or 0xBB40E64E, here as the file
# holds its bytes), for the loader to replace.
if(BITS EQUAL 64)
  set(loadConfig 0x70 8 32a2df2d992b0000)
else()
  set(loadConfig 0x48 4 4ee640bb)
endif()
list(POP_FRONT loadConfig size pointer)
list(APPEND expected coff_load_config "LoadConfig .\n  Size: ${size}\n" "the load configuration is not ${size} bytes"
     file_headers "\n *LoadConfigTableSize: ${size}\n" "the load configuration's directory is not ${size} bytes"
     coff_load_config "\n *DependentLoadFlags: 0x800\n" "DependentLoadFlags is not LOAD_LIBRARY_SEARCH_SYSTEM32")
string(REGEX MATCH "ImageBase: (0x[0-9A-F]+)" match "${file_headers}")
set(imageBase ${CMAKE_MATCH_1})
string(REGEX MATCH "SecurityCookie: (0x[0-9A-F]+)" match "${coff_load_config}")
set(cookie ${CMAKE_MATCH_1})
file(STRINGS ${MAP} guard REGEX "^ +0x[0-9a-f]+ +_?__stack_chk_guard$")
string(REGEX MATCH "0x[0-9a-f]+" guard "${guard}0x0")
if(cookie STREQUAL "0x0" OR NOT (cookie EQUAL guard))
  fail("the security cookie is at ${cookie}, the stack guard at ${guard}")
endif()
math(EXPR cookieRva "${guard} - ${imageBase}")
read_image(cookieValue ${EXE} ${cookieRva} ${pointer})
list(APPEND expected cookieValue "^${loadConfig}$"
     "the security cookie holds 0x${cookieValue} (bytes in file order), not the default the loader replaces")

while(expected)
  list(POP_FRONT expected text pattern message)
  if(NOT ("${${text}}" MATCHES "${pattern}"))
    fail("${message}")
  endif()
endwhile()

# Nothing of where it was built, so that a rebuild gives the same bytes:
# neither the source nor the build folder at the start of any text in it, as
# a compiled-in file name is.
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

if(failures)
  message(FATAL_ERROR "${EXE}:${failures}")
endif()
message(STATUS "${EXE}: system DLLs only, KnownDLLs at start, load configuration, ASLR, DEP, "
               "no SEH handlers (32-bit), Windows 6.1 and terminal-server aware, a right checksum, "
               "a manifest Windows accepts, version ${VERSION}, icon, no build time or folder")
