# Cross build of the 32-bit Windows DLL with MinGW-w64 (posix threads).
set(TESSORA_MINGW_CPU i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
