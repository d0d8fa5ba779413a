# What both MinGW-w64 cross builds share (posix threads); the toolchain file of each width sets
# TESSORA_MINGW_CPU (i686 or x86_64) and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TESSORA_MINGW_CPU})

set(CMAKE_C_COMPILER ${TESSORA_MINGW_CPU}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSORA_MINGW_CPU}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${TESSORA_MINGW_CPU}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSORA_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests of the cross build run under Wine (a prefix of the build's width; see
# scripts/lib/common.sh).
find_program(TESSORA_WINE wine)
if(TESSORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSORA_WINE})
endif()
