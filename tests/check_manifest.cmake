# Checks a manifest as Windows reads it before it starts the program, which it
# refuses to start (a side-by-side configuration error) when the manifest is
# not well-formed XML or an element is not of its namespace or in its place:
#   cmake -DMANIFEST=... -DXMLLINT=... -DVERSION=... -P check_manifest.cmake
# check_executable.cmake and check_kit_manifests.cmake include it, with the
# reader of images, for the manifest they take out of a program.
include(${CMAKE_CURRENT_LIST_DIR}/image_reader.cmake)

# The namespace of each prefix that the paths below use.
set(namespace_v1 urn:schemas-microsoft-com:asm.v1)
set(namespace_v3 urn:schemas-microsoft-com:asm.v3)
set(namespace_ws2005 http://schemas.microsoft.com/SMI/2005/WindowsSettings)
set(namespace_ws2016 http://schemas.microsoft.com/SMI/2016/WindowsSettings)
set(namespace_ws2019 http://schemas.microsoft.com/SMI/2019/WindowsSettings)
set(namespace_compat urn:schemas-microsoft-com:compatibility.v1)
set(manifestRoot "v1:assembly[@manifestVersion='1.0']")
set(executionLevel "${manifestRoot}/v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel")

# Fails unless the manifest holds exactly one element at `path`, written as
# steps of prefix:name[condition] from the root, a prefix of those above.
macro(require_element file what path)
  set(xpath "")
  string(REPLACE "/" ";" steps "${path}")
  foreach(step IN LISTS steps)
    string(REGEX MATCH "^([a-z0-9]+):([A-Za-z]+)(.*)$" step "${step}")
    string(APPEND xpath "/*[local-name()='${CMAKE_MATCH_2}' and namespace-uri()='${namespace_${CMAKE_MATCH_1}}']${CMAKE_MATCH_3}")
  endforeach()
  execute_process(COMMAND ${XMLLINT} --xpath "count(${xpath})" ${file} OUTPUT_VARIABLE found
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT (result EQUAL 0 AND found STREQUAL "1"))
    fail("the manifest has ${found} of ${what} (${path}) instead of one")
  endif()
endmacro()

macro(check_manifest file)
  execute_process(COMMAND ${XMLLINT} --noout ${file} ERROR_VARIABLE xmlErrors RESULT_VARIABLE result)
  if(NOT (result EQUAL 0))
    string(REGEX REPLACE "\n.*" "" xmlErrors "${xmlErrors}")
    fail("the manifest is not well-formed XML: ${xmlErrors}")
  else()
    set(settings "${manifestRoot}/v3:application/v3:windowsSettings")
    require_element(${file} "the program's identity"
        "${manifestRoot}/v1:assemblyIdentity[@type='win32' and @name='Varnolt.Handoff' and @version='${VERSION}.0']")
    require_element(${file} "the execution level" "${executionLevel}[@level='asInvoker' and @uiAccess='false']")
    require_element(${file} "the DPI awareness of Windows 7 and 8" "${settings}/ws2005:dpiAware[.='true']")
    require_element(${file} "the DPI awareness of Windows 10 and 11" "${settings}/ws2016:dpiAwareness[.='system']")
    require_element(${file} "the code page" "${settings}/ws2019:activeCodePage[.='UTF-8']")
    require_element(${file} "the Common Controls 6 dependency"
        "${manifestRoot}/v1:dependency/v1:dependentAssembly/v1:assemblyIdentity[@type='win32' and @name='Microsoft.Windows.Common-Controls' and @version='6.0.0.0' and @publicKeyToken='6595b64144ccf1df']")
    # Windows 7, 8, 8.1, and 10 and 11.
    foreach(os 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
               1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
      require_element(${file} "the supported Windows"
          "${manifestRoot}/compat:compatibility/compat:application/compat:supportedOS[@Id='{${os}}']")
    endforeach()
  endif()
endmacro()

if(DEFINED MANIFEST)
  check_manifest(${MANIFEST})
  if(failures)
    message(FATAL_ERROR "${MANIFEST}:${failures}")
  endif()
  message(STATUS "${MANIFEST}: well-formed, each element in its namespace and place")
endif()
