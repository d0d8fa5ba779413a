# The Windows tests that make TLS connections load the OpenSSL DLLs of one line from the directory
# of the test programs; fails with what to do when neither line is there.
cmake_minimum_required(VERSION 3.20)
if(EXISTS ${DIR}/libeay32.dll AND EXISTS ${DIR}/ssleay32.dll)
  message(STATUS "The OpenSSL 1.0 DLLs are next to the tests")
elseif(EXISTS ${DIR}/libcrypto-3${SUFFIX}.dll AND EXISTS ${DIR}/libssl-3${SUFFIX}.dll)
  message(STATUS "The OpenSSL 3 DLLs are next to the tests")
else()
  message(FATAL_ERROR "No OpenSSL DLLs are next to the tests in ${DIR}, so the tests that use "
    "TLS fail: run scripts/fetch-openssl-dlls <dir> and configure with "
    "-DTESSORA_OPENSSL_DLL_DIR=<dir> (or scripts/build-openssl3-dlls <dir> with "
    "-DTESSORA_OPENSSL3_DLL_DIR=<dir> -DTESSORA_TEST_OPENSSL=3)")
endif()
