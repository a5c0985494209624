# Makes one text of the Windows ZIPs from the text it shares with Linux:
#   cmake -DIN=<file> -DOUT=<file.txt> [-DGROFF=<groff>] [-DNAME=value ...] -P windows-text.cmake
# - Lines between the markers "linux-only" and "end linux-only" are left out,
#   and a line marked "windows:" is put in without its marker. In a manual
#   page the markers are comments (.\" linux-only, .\" windows: LINE), in
#   Markdown HTML comments (<!-- linux-only -->, <!-- windows: LINE -->), so
#   man and Markdown viewers on Linux never show them.
# - Each placeholder (a NAME between two at signs) is filled from -DNAME=value;
#   one without a value stops the build, as does a marker left open.
# - The examples' shell prompt "$ " at the start of a line becomes "> ".
# - A manual page (GROFF given) is rendered as ASCII without overstrikes or
#   escape sequences, 80 columns, as Notepad shows it.
# - The result has Windows line ends.
cmake_policy(SET CMP0053 NEW)
cmake_policy(SET CMP0007 NEW)

file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")

# Line by line; list elements would lose semicolons and square brackets.
set(out "")
set(linux_only OFF)
set(line_no 0)
string(LENGTH "${text}" left)
while(left GREATER 0)
  string(FIND "${text}" "\n" end)
  if(end EQUAL -1)
    set(line "${text}")
    set(text "")
  else()
    string(SUBSTRING "${text}" 0 ${end} line)
    math(EXPR next "${end} + 1")
    string(SUBSTRING "${text}" ${next} -1 text)
  endif()
  string(LENGTH "${text}" left)
  math(EXPR line_no "${line_no} + 1")
  if(line MATCHES "^(\\.\\\\\" |<!-- )end linux-only( -->)?$")
    if(NOT linux_only)
      message(FATAL_ERROR "${IN}:${line_no}: \"end linux-only\" without \"linux-only\"")
    endif()
    set(linux_only OFF)
  elseif(line MATCHES "^(\\.\\\\\" |<!-- )linux-only( -->)?$")
    if(linux_only)
      message(FATAL_ERROR "${IN}:${line_no}: \"linux-only\" inside another")
    endif()
    set(linux_only ON)
    set(opened_at ${line_no})
  elseif(NOT linux_only)
    if(line MATCHES "^\\.\\\\\" windows: (.*)$")
      set(line "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^<!-- windows: (.*) -->$")
      set(line "${CMAKE_MATCH_1}")
    endif()
    # The prompt of the examples: cmd's, as in README.txt.
    if(line MATCHES "^\\$ (.*)$")
      set(line "> ${CMAKE_MATCH_1}")
    endif()
    string(APPEND out "${line}\n")
  endif()
endwhile()
if(linux_only)
  message(FATAL_ERROR "${IN}:${opened_at}: \"linux-only\" never ended")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/placeholders.cmake)
vexlo_check_placeholders("${out}" "${IN} (pass -DNAME=... for each placeholder)")
string(CONFIGURE "${out}" out @ONLY)

if(DEFINED GROFF)
  set(page "${OUT}.1")
  file(WRITE "${page}" "${out}")
  execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou -rLL=78n -ww "${page}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE warnings RESULT_VARIABLE rc)
  file(REMOVE "${page}")
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff on ${IN} failed (${rc}): ${warnings}")
  endif()
endif()

string(REPLACE "\n" "\r\n" out "${out}")
file(WRITE "${OUT}" "${out}")
