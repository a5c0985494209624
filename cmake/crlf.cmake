# Copies a text file with Windows line ends:
#   cmake -DIN=<file> -DOUT=<file> [-DVERSION=<x.y.z>] -P crlf.cmake
# @VERSION@ in the text becomes VERSION.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
if(DEFINED VERSION)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
