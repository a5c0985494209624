# Renders a manual page as plain text with Windows line ends, for the ZIPs:
#   cmake -DGROFF=<groff> -DIN=<page.1> -DOUT=<page.txt> -P man-to-text.cmake
# ASCII without overstrikes or escape sequences, 80 columns, as Notepad shows it.
execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou -rLL=78n -ww "${IN}"
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${IN} failed (${rc}): ${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
