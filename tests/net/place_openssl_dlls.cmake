# Places the OpenSSL DLLs for the Windows tests: both lines in folders of their own
# (<bin>/openssl-1.0, <bin>/openssl-3) for the loader's tests, and one line, LINE, in <bin> itself
# for every other test; the DLLs of the other line are removed from <bin>.
# LINES names the lines the build tests (both, or 3 alone in a 64-bit build without 1.0 DLLs).
#   cmake -DBIN=dir -DLINE=1.0|3 "-DDLLS_1.0=a.dll;b.dll" "-DDLLS_3=c.dll;d.dll" "-DLINES=1.0;3"
#     -P this file
if(NOT DEFINED LINES)
  set(LINES 1.0 3)
endif()
foreach(line IN LISTS LINES)
  set(present "")
  foreach(dll IN LISTS DLLS_${line})
    if(EXISTS "${dll}")
      list(APPEND present "${dll}")
    elseif(line STREQUAL LINE)
      # A plain cross build still builds; the test openssl_test_dlls reports what is missing.
      message(WARNING "${dll} is missing, so the tests that use TLS will fail: run "
        "scripts/fetch-openssl-dlls (1.0) or scripts/build-openssl3-dlls (3)")
    else()
      message(WARNING "${dll} is missing: the loader's tests of OpenSSL ${line} will fail")
    endif()
  endforeach()
  file(MAKE_DIRECTORY "${BIN}/openssl-${line}")
  if(present)
    file(COPY ${present} DESTINATION "${BIN}/openssl-${line}")
  endif()
  if(line STREQUAL LINE AND present)
    file(COPY ${present} DESTINATION "${BIN}")
  else()
    foreach(dll IN LISTS DLLS_${line})
      get_filename_component(name "${dll}" NAME)
      file(REMOVE "${BIN}/${name}")
    endforeach()
  endif()
endforeach()
if(NOT LINE STREQUAL "1.0" AND NOT LINE STREQUAL "3")
  message(FATAL_ERROR "LINE must be 1.0 or 3, not \"${LINE}\"")
endif()
