# Runs tessora once and checks its exit status and output.
#   -DTOOL=path [-DEMULATOR=wine] -DWORKDIR=dir "-DARGS=a;b;c" -DEXIT=n
#   [-DSTDOUT=regex] [-DSTDERR=regex] [-DNOT_STDOUT=regex] [-DSKIP_IF=regex] [-DPEERS=file]
#   [-DPEER_DIR=dir]
# PEERS: the real TLS peers' ports file (NAME=PORT lines); @NAME@ in ARGS becomes the port.
# PEER_DIR: the directory of the other real peers (NAME/port, tests/support/peers.py); @NAME@ of a
# name the ports file lacks becomes that peer's port ("proxy", "authproxy").
# The regular expressions are lists: each one must match (NOT_STDOUT: none may match).
# SKIP_IF: when standard error matches it, the test reports itself skipped (the test's
# SKIP_REGULAR_EXPRESSION matches "tessora-test-skipped").
file(MAKE_DIRECTORY "${WORKDIR}")
if(PEERS AND EXISTS "${PEERS}")
  file(STRINGS "${PEERS}" ports REGEX "^[A-Za-z0-9_]+=[0-9]+$")
  foreach(line IN LISTS ports)
    string(REGEX REPLACE "=.*" "" name "${line}")
    string(REGEX REPLACE ".*=" "" port "${line}")
    string(REPLACE "@${name}@" "${port}" ARGS "${ARGS}")
  endforeach()
endif()
if(PEER_DIR AND EXISTS "${PEER_DIR}")
  file(GLOB port_files "${PEER_DIR}/*/port")
  foreach(port_file IN LISTS port_files)
    get_filename_component(peer_dir "${port_file}" DIRECTORY)
    get_filename_component(name "${peer_dir}" NAME)
    file(STRINGS "${port_file}" port LIMIT_COUNT 1)
    string(REPLACE "@${name}@" "${port}" ARGS "${ARGS}")
  endforeach()
endif()
execute_process(COMMAND ${EMULATOR} "${TOOL}" ${ARGS}
  WORKING_DIRECTORY "${WORKDIR}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
  TIMEOUT 60)
set(report "exit status: ${rc}\n--- standard output:\n${out}--- standard error:\n${err}")
if(NOT SKIP_IF STREQUAL "" AND err MATCHES "${SKIP_IF}")
  message("${report}")
  message("tessora-test-skipped: standard error matches \"${SKIP_IF}\"")
  return()
endif()
if(NOT rc STREQUAL EXIT)
  message(FATAL_ERROR "expected exit status ${EXIT}\n${report}")
endif()
foreach(pattern IN LISTS STDOUT)
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "standard output does not match \"${pattern}\"\n${report}")
  endif()
endforeach()
foreach(pattern IN LISTS STDERR)
  if(NOT err MATCHES "${pattern}")
    message(FATAL_ERROR "standard error does not match \"${pattern}\"\n${report}")
  endif()
endforeach()
foreach(pattern IN LISTS NOT_STDOUT)
  if(out MATCHES "${pattern}")
    message(FATAL_ERROR "standard output matches \"${pattern}\"\n${report}")
  endif()
endforeach()
message("${report}")
