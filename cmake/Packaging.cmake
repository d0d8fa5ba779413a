# Debian packages through CPack (cpack -G DEB in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr): libtessoranet3 (the library), libtessoranet-dev (header, CMake
# package, pkg-config file, the libTessoraNet.so link) and tessora-tools (tessora,
# tessora-sandbox).
set(CPACK_PACKAGE_NAME tessoranet)
set(CPACK_PACKAGE_VENDOR "the TessoraNet authors")
set(CPACK_PACKAGE_CONTACT "the TessoraNet authors <tessoranet@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client library for the Tessora payment API")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtessoranet${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libssl3")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Client library for the Tessora payment API\nThe shared library libTessoraNet.so.${PROJECT_VERSION_MAJOR}.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtessoranet-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libtessoranet${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}-1)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Client library for the Tessora payment API (development files)\nThe header TessoraNet.h, the CMake package and the pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tessora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
  "libtessoranet${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}-1), libc6, libstdc++6, libgcc-s1, libssl3")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Command-line host and local sandbox for the Tessora payment API\ntessora performs API operations through the library; tessora-sandbox is a local HTTPS\nsandbox of the payment API with its own test CA.")

include(CPack)
