# The Windows tests that make TLS connections load the OpenSSL 1.0.2n DLLs from the directory of
# the test programs; fails with what to do when they are not there.
cmake_minimum_required(VERSION 3.20)
foreach(dll libeay32.dll ssleay32.dll)
  if(NOT EXISTS ${DIR}/${dll})
    message(FATAL_ERROR "${dll} is missing from ${DIR}, so the tests that use TLS fail: run "
      "scripts/fetch-openssl-dlls <dir> and configure with -DTESSORA_OPENSSL_DLL_DIR=<dir>")
  endif()
endforeach()
message(STATUS "libeay32.dll and ssleay32.dll are next to the tests")
