# Installing the library: libTessoraNet.so.3.1.0 (or TessoraNet.dll with its import library), the
# public header, a CMake package (find_package(TessoraNet 3.1 CONFIG) gives TessoraNet::TessoraNet)
# and TessoraNet.pc for pkg-config, all under the GNU install directories.
include(CMakePackageConfigHelpers)

set(TESSORA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TessoraNet)

install(TARGETS TessoraNet EXPORT TessoraNetTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/TessoraNet.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT TessoraNetTargets NAMESPACE TessoraNet:: FILE TessoraNetTargets.cmake
  DESTINATION ${TESSORA_CMAKE_DIR} COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/install/TessoraNetConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TessoraNetConfig.cmake INSTALL_DESTINATION ${TESSORA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TessoraNetConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TessoraNetConfig.cmake
  ${PROJECT_BINARY_DIR}/TessoraNetConfigVersion.cmake
  DESTINATION ${TESSORA_CMAKE_DIR} COMPONENT development)

# The .pc file names its prefix relative to its own directory, so an unpacked archive works where
# it lies.
set(TESSORA_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TESSORA_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${TESSORA_PC_DIR}
  ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TESSORA_PC_TO_PREFIX "${TESSORA_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/install/TessoraNet.pc.in
  ${PROJECT_BINARY_DIR}/TessoraNet.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/TessoraNet.pc DESTINATION ${TESSORA_PC_DIR}
  COMPONENT development)

# The license, the changelog and the README go with the library.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# The bindings for hosts in Pascal, C# and Python (bindings/README.md), with the development files.
# (The VBA module is for 64-bit Office on Windows only: it goes in the Windows zips.)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/TessoraNet.pas ${PROJECT_SOURCE_DIR}/bindings/TessoraNet.cs
  ${PROJECT_SOURCE_DIR}/bindings/tessoranet.py
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tessora/bindings COMPONENT development)
