# Compiler options shared by the library, its tests and its tools.
add_library(tessora_options INTERFACE)
target_compile_options(tessora_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-qual
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>
  -Wmissing-declarations)
if(TESSORA_WERROR)
  target_compile_options(tessora_options INTERFACE -Werror)
endif()
if(TESSORA_SANITIZE)
  target_compile_options(tessora_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tessora_options INTERFACE -fsanitize=address,undefined)
endif()
if(TESSORA_SANITIZE_THREAD)
  if(TESSORA_SANITIZE OR TESSORA_BUILD_FUZZERS)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer or the fuzzers")
  endif()
  target_compile_options(tessora_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(tessora_options INTERFACE -fsanitize=thread)
endif()
if(TESSORA_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "The fuzzers need clang: CC=clang CXX=clang++")
  endif()
  # Coverage for the fuzzers in all of the library's code; the fuzzer targets add the driver.
  target_compile_options(tessora_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tessora_options INTERFACE -fsanitize=address,undefined)
endif()
if(WIN32)
  # A DLL that imports nothing but system DLLs: the C++ runtime and winpthreads go in statically.
  target_link_options(tessora_options INTERFACE -static -static-libgcc -static-libstdc++)
  target_compile_definitions(tessora_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 UNICODE _UNICODE)
endif()
# The API host suffix, for the library and for the tools and tests that play its server.
target_compile_definitions(tessora_options INTERFACE TESSORA_API_HOST="${TESSORA_API_HOST}")
# The library's version, from the project's; the "api-sdk" header carries it.
target_compile_definitions(tessora_options INTERFACE TESSORA_VERSION="${PROJECT_VERSION}")
