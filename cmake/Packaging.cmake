# Debian packages through CPack (cpack -G DEB in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr -DTESSORA_DEBIAN_PACKAGES=ON): libtessoranet3 (the library),
# libtessoranet-dev (header, CMake package, pkg-config file, the libTessoraNet.so link) and
# tessora-tools (tessora, tessora-sandbox). Each package carries the copyright file and the
# changelog.Debian.gz that Debian asks of every package, stripped binaries, and the library's
# shlibs file and ldconfig trigger.
option(TESSORA_DEBIAN_PACKAGES "Install the files Debian packages carry (copyright, changelog)" OFF)

set(TESSORA_DEB_RUNTIME libtessoranet${PROJECT_VERSION_MAJOR})
set(TESSORA_DEB_MAINTAINER "TessoraNet developers <developers@tessora.net>")

set(CPACK_PACKAGE_NAME tessoranet)
set(CPACK_PACKAGE_VENDOR "the TessoraNet authors")
set(CPACK_PACKAGE_CONTACT ${TESSORA_DEB_MAINTAINER})
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before every package's description;
# the first line of each description below is that package's own synopsis.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TESSORA_DEB_MAINTAINER})
# Only the library package holds a shared object, so only it gets a shlibs file; a program built
# against 3.x runs on any later 3.x. The dependencies on the C and C++ runtimes and on OpenSSL are
# the versions dpkg-shlibdeps finds the binaries need.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TESSORA_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/install/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "Client library for the Tessora payment API\n\
The shared library libTessoraNet.so.${PROJECT_VERSION_MAJOR}: hosts configure a thread with\n\
credentials and an endpoint file and perform API operations by name over HTTPS.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtessoranet-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${TESSORA_DEB_RUNTIME} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "Client library for the Tessora payment API (development files)\n\
The header TessoraNet.h, the CMake package (find_package(TessoraNet)) and the\n\
pkg-config file TessoraNet.pc.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tessora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${TESSORA_DEB_RUNTIME} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "Command-line host and local sandbox for the Tessora payment API\n\
tessora performs API operations through the library; tessora-sandbox is a\n\
local HTTPS sandbox of the payment API with its own test CA.")

if(TESSORA_DEBIAN_PACKAGES)
  # The Debian changelog names the release date of this version in CHANGELOG.md.
  file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md TESSORA_RELEASE_LINE
    REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9-]+$")
  string(REGEX MATCH "[0-9]+-[0-9]+-[0-9]+$" TESSORA_RELEASE_DATE "${TESSORA_RELEASE_LINE}")
  if(NOT TESSORA_RELEASE_DATE)
    message(FATAL_ERROR "CHANGELOG.md has no line \"## [${PROJECT_VERSION}] - <date>\"")
  endif()
  execute_process(COMMAND date -u -R -d "${TESSORA_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE TESSORA_RELEASE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(TESSORA_DEB_DIR ${PROJECT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/install/debian/changelog.in
    ${TESSORA_DEB_DIR}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${TESSORA_DEB_DIR}/changelog COMMAND_ERROR_IS_FATAL ANY)
  foreach(component IN ITEMS runtime development tools)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/install/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    install(FILES ${TESSORA_DEB_DIR}/changelog.gz RENAME changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

include(CPack)
