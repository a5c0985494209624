# Shared part of the MinGW-w64 toolchain files; VEXLO_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
if(VEXLO_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# The -posix compilers carry std::thread and std::mutex (GCC 12's win32
# thread model does not); their pthread library is linked statically with
# the rest of the runtime, so no extra DLL comes with it.
set(CMAKE_C_COMPILER ${VEXLO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXLO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXLO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXLO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
