# The driver's entry points for the build, read from their one table in
# link/D2xxEntryPoints.h (one X(...) row each):
#   VEXLO_D2XX_ENTRY_POINTS   names, in the table's order
#   VEXLO_D2XX_STDCALL_BYTES  name=bytes: what each pops as __stdcall on
#                             32-bit Windows, 4 bytes a parameter
# and vexlo_d2xx_version_script(<file> <omit>), an ELF export list of the
# entry points but <omit> (which may be empty).
set(_vexlo_d2xx_table ${CMAKE_CURRENT_LIST_DIR}/../link/D2xxEntryPoints.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vexlo_d2xx_table})
file(READ ${_vexlo_d2xx_table} _vexlo_d2xx_text)
# Backslashes (line continuations, escapes in the texts) would escape CMake's
# list separators; nothing read here needs them.
string(REPLACE "\\" "" _vexlo_d2xx_text "${_vexlo_d2xx_text}")

set(VEXLO_D2XX_ENTRY_POINTS "")
set(VEXLO_D2XX_STDCALL_BYTES "")
string(REGEX MATCHALL "\n[ \t]*X\\([^\n]*" _vexlo_d2xx_rows "${_vexlo_d2xx_text}")
foreach(_row IN LISTS _vexlo_d2xx_rows)
  if(NOT _row MATCHES "X\\((FT_[A-Za-z]+), *[0-9]+, *\"[^\"]*\", *\\(([^)]*)\\)")
    message(FATAL_ERROR "link/D2xxEntryPoints.h: row not understood: ${_row}")
  endif()
  set(_name ${CMAKE_MATCH_1})
  set(_params "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "[^,]" "" _commas "${_params}")
  string(LENGTH "${_commas}" _count)
  math(EXPR _bytes "(${_count} + 1) * 4")
  list(APPEND VEXLO_D2XX_ENTRY_POINTS ${_name})
  list(APPEND VEXLO_D2XX_STDCALL_BYTES "${_name}=${_bytes}")
endforeach()
list(LENGTH VEXLO_D2XX_ENTRY_POINTS _vexlo_d2xx_count)
string(REGEX MATCHALL "X\\(FT_" _vexlo_d2xx_all "${_vexlo_d2xx_text}")
list(LENGTH _vexlo_d2xx_all _vexlo_d2xx_all)
if(_vexlo_d2xx_count EQUAL 0 OR NOT _vexlo_d2xx_count EQUAL _vexlo_d2xx_all)
  message(FATAL_ERROR "link/D2xxEntryPoints.h: ${_vexlo_d2xx_count} rows read of ${_vexlo_d2xx_all}: one X(...) row a line")
endif()

function(vexlo_d2xx_version_script file omit)
  set(text "{\n  global:\n")
  foreach(name IN LISTS VEXLO_D2XX_ENTRY_POINTS)
    if(NOT name STREQUAL omit)
      string(APPEND text "    ${name};\n")
    endif()
  endforeach()
  string(APPEND text "  local: *;\n};\n")
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}" @ONLY)
endfunction()
