# The Debian packages (`make deb`, or `cpack -G DEB` in the build folder), one per install
# component of cmake/KtinetInstall.cmake:
#   ktinet         the program, its manual page and bash completion
#   libktinet0     the shared library (its SONAME is libktinet.so.0)
#   libktinet-dev  headers, libktinet.so, libktinet.a, the CMake package, pkg-config files
# Each carries /usr/share/doc/<package>/copyright (the licence) and changelog.gz. Binaries are
# stripped into the packages; the build tree keeps its debug information.

set(KTINET_DEB_MAINTAINER "the ktinet developers <ktinet-devel@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")

# The licence's permission text, indented as a copyright file's License paragraph wants it.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*(Permission is hereby granted)" "\\1" license "${license}")
string(STRIP "${license}" license)
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " KTINET_LICENSE_TEXT " ${license}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/copyright.in ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)

# The changelog's date honours SOURCE_DATE_EPOCH, so a reproducible build gives the same packages.
string(TIMESTAMP KTINET_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/debian/changelog
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/debian/changelog.gz RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${CMAKE_BINARY_DIR}/debian/changelog")
endif()

foreach(pair program:ktinet runtime:libktinet0 dev:libktinet-dev)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ktinet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the ktinet developers")
set(CPACK_PACKAGE_CONTACT "${KTINET_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KTINET_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE ktinet)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the program's own library in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_PROGRAM_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)

# Descriptions: the first line is the synopsis; an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(KTINET_DEB_ABOUT "ktinet is a C++20 library of non-visual internet components: each does one
network job synchronously and hands back its result (WHOIS, time, DNS, HTTP,
SMTP with attachments, downloads over HTTP, HTTPS and FTP, XML and RSS, parcel
tracking).")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ktinet)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "internet components from the command line
${KTINET_DEB_ABOUT}

This package holds the program, ktinet: one subcommand per component
(`ktinet --help` lists them), with its manual page and bash completion.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libktinet0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg runs ldconfig once for all packages that install libraries, through this trigger.
file(WRITE ${CMAKE_BINARY_DIR}/debian/runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "non-visual internet components (shared library)
${KTINET_DEB_ABOUT}

This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libktinet-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcurl4-openssl-dev | libcurl-dev, libssl-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "non-visual internet components (development files)
${KTINET_DEB_ABOUT}

This package holds the headers, the static library and the files CMake
(find_package) and pkg-config need to build against the library.")

include(CPack)
