# Checks a cross-built Windows file with objdump.
#   cmake -DOBJDUMP=<objdump> -DFILE=<exe or dll> -DCHECK=imports -P check-pe.cmake
#     fails when the file imports any DLL beyond the system's C runtime and
#     KERNEL32: the programs must start on a stock Windows, and reach the
#     driver only by loading it at run time. -DEXTRA_ALLOWED=<name;...> allows
#     more system DLLs (base names, e.g. ws2_32) for this file.
#   cmake -DOBJDUMP=<objdump> -DFILE=<dll> -DCHECK=exports -DENTRY_POINTS=<name=bytes,...>
#         [-DSTDCALL=ON] -P check-pe.cmake
#     fails unless the driver DLL exports exactly the given entry points
#     under their plain names; with STDCALL, also unless each was compiled as
#     __stdcall with the given argument size (the build reads both from the
#     link's entry-point table).
#   cmake -DOBJDUMP=<objdump> -DFILE=<exe> -DCHECK=manifest -P check-pe.cmake
#     fails unless the program carries its application manifest: run as
#     invoker (no elevation prompt) and the UTF-8 code page.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP FILE CHECK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "${FILE} does not exist: cross-build it first (tools/windows-build)")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${FILE}"
                OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed: ${errors}")
endif()
string(REPLACE "\r" "" headers "${headers}")
string(REPLACE "\n" ";" lines "${headers}")

if(CHECK STREQUAL "imports")
  set(allowedNames kernel32 msvcrt ucrtbase "api-ms-win-crt-[a-z0-9-]+")
  if(DEFINED EXTRA_ALLOWED)
    string(TOLOWER "${EXTRA_ALLOWED}" extra)
    list(APPEND allowedNames ${extra})
  endif()
  list(JOIN allowedNames "|" alternatives)
  set(allowed "^(${alternatives})\\.dll$")
  set(imports "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
      list(APPEND imports "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  # Every Windows program imports KERNEL32; not seeing it means the listing
  # was not understood, and an empty list must not pass as clean.
  string(TOLOWER "${imports}" lowered)
  if(NOT "kernel32.dll" IN_LIST lowered)
    message(FATAL_ERROR "no KERNEL32.dll among the imports of ${FILE} (${imports}): objdump output not understood")
  endif()
  set(bad "")
  foreach(dll IN LISTS imports)
    string(TOLOWER "${dll}" name)
    if(NOT name MATCHES "${allowed}")
      list(APPEND bad "${dll}")
    endif()
  endforeach()
  if(bad)
    message(FATAL_ERROR "${FILE} imports DLLs a stock Windows does not have or that must be loaded at run time: ${bad}")
  endif()
  message(STATUS "${FILE} imports only: ${imports}")

elseif(CHECK STREQUAL "exports")
  if(NOT DEFINED ENTRY_POINTS)
    message(FATAL_ERROR "ENTRY_POINTS not given")
  endif()
  string(REPLACE "," ";" entryPoints "${ENTRY_POINTS}")
  list(LENGTH entryPoints entryCount)

  set(exports "")
  set(inTable OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(inTable ON)
    elseif(inTable AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(inTable)
      set(inTable OFF)
    endif()
  endforeach()

  set(expected "")
  foreach(entry IN LISTS entryPoints)
    string(REGEX REPLACE "=.*" "" name "${entry}")
    list(APPEND expected "${name}")
  endforeach()
  set(missing "")
  foreach(name IN LISTS expected)
    if(NOT name IN_LIST exports)
      list(APPEND missing "${name}")
    endif()
  endforeach()
  set(extra "")
  foreach(name IN LISTS exports)
    if(NOT name IN_LIST expected)
      list(APPEND extra "${name}")
    endif()
  endforeach()
  if(missing OR extra)
    message(FATAL_ERROR "${FILE}: exports not the ${entryCount} plain entry-point names\n  missing: ${missing}\n  unexpected: ${extra}")
  endif()

  if(STDCALL)
    # The exports carry plain names, but the compiler's own symbols keep the
    # __stdcall decoration "_name@bytes", which tells the convention and the
    # argument size the callee pops.
    execute_process(COMMAND "${OBJDUMP}" -t "${FILE}"
                    OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${OBJDUMP} -t ${FILE} failed: ${errors}")
    endif()
    set(wrong "")
    foreach(entry IN LISTS entryPoints)
      string(REPLACE "=" ";" pair "${entry}")
      list(GET pair 0 name)
      list(GET pair 1 bytes)
      if(NOT symbols MATCHES "[ \t]_${name}@${bytes}[\r\n]")
        list(APPEND wrong "${name} (want _${name}@${bytes})")
      endif()
    endforeach()
    if(wrong)
      message(FATAL_ERROR "${FILE}: entry points not __stdcall with their published argument size "
                          "(or the symbol table was stripped): ${wrong}")
    endif()
  endif()
  message(STATUS "${FILE} exports the ${entryCount} entry points")

elseif(CHECK STREQUAL "manifest")
  file(STRINGS "${FILE}" levels REGEX "requestedExecutionLevel[^>]*level=\"asInvoker\"")
  file(STRINGS "${FILE}" codePages REGEX "<activeCodePage[^>]*>UTF-8</activeCodePage>")
  if(NOT levels OR NOT codePages)
    message(FATAL_ERROR "${FILE}: manifest without asInvoker (${levels}) or the UTF-8 code page (${codePages})")
  endif()
  message(STATUS "${FILE} carries its manifest")

else()
  message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
