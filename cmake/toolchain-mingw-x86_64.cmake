# Cross build of the 64-bit Windows DLL with MinGW-w64 (posix threads).
set(TESSORA_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
