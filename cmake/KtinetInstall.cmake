# What `cmake --install` puts under the prefix, in three components (the Debian packages of
# cmake/KtinetDeb.cmake follow them):
#   program  bin/ktinet, its manual page and bash completion
#   runtime  lib/libktinet.so.MAJOR
#   dev      include/ktinet/<folder>/<Unit>.h, libktinet.so, libktinet.a, the CMake package and
#            the pkg-config files ktinet (shared) and ktinet-static
# Every component carries the licence (cmake/KtinetDeb.cmake).

# The public headers in the install layout, staged at build time under <build>/include, so an
# application includes <ktinet/core/KtInBase.h> and the headers include each other the same way.
# The build for host version 10 installs the earlier tracker headers in place of the standard ones.
file(GLOB_RECURSE KTINET_HEADERS CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/*.h)
file(GLOB_RECURSE KTINET_LEGACY_HEADERS CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/src/legacy
  ${CMAKE_SOURCE_DIR}/src/legacy/*.h)
list(FILTER KTINET_HEADERS EXCLUDE REGEX "^legacy/")
# Shared between the units of one component only, never included by an application.
list(REMOVE_ITEM KTINET_HEADERS platform/WinInetShared.h services/ServiceJson.h)
set(KTINET_HEADER_PAIRS)
set(KTINET_HEADER_SOURCES)
if(KTINET_LEGACY)
  list(REMOVE_ITEM KTINET_HEADERS services/KtITrack.h ${KTINET_LEGACY_HEADERS})
  foreach(hdr ${KTINET_LEGACY_HEADERS})
    list(APPEND KTINET_HEADER_PAIRS "${CMAKE_SOURCE_DIR}/src/legacy/${hdr}|${hdr}")
    list(APPEND KTINET_HEADER_SOURCES ${CMAKE_SOURCE_DIR}/src/legacy/${hdr})
  endforeach()
endif()
foreach(hdr ${KTINET_HEADERS})
  list(APPEND KTINET_HEADER_PAIRS "${CMAKE_SOURCE_DIR}/src/${hdr}|${hdr}")
  list(APPEND KTINET_HEADER_SOURCES ${CMAKE_SOURCE_DIR}/src/${hdr})
endforeach()
set(KTINET_STAGED_INCLUDE ${CMAKE_BINARY_DIR}/include)
file(WRITE ${CMAKE_BINARY_DIR}/staged-headers.txt "${KTINET_HEADER_PAIRS}")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/staged-headers.stamp
  COMMAND ${CMAKE_COMMAND} -DOUT=${KTINET_STAGED_INCLUDE} -DPAIRS_FILE=${CMAKE_BINARY_DIR}/staged-headers.txt
    -P ${CMAKE_SOURCE_DIR}/cmake/StageHeaders.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/staged-headers.stamp
  DEPENDS ${KTINET_HEADER_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/StageHeaders.cmake ${CMAKE_BINARY_DIR}/staged-headers.txt
  COMMENT "Staging the public headers as ktinet/<folder>/<Unit>.h")
add_custom_target(ktinet_headers ALL DEPENDS ${CMAKE_BINARY_DIR}/staged-headers.stamp)
install(DIRECTORY ${KTINET_STAGED_INCLUDE}/ktinet DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

if(NOT KTINET_FUZZ)
  install(TARGETS ktinet_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

  # The manual page and the bash completion, from the program's own command table.
  set(KTINET_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
  add_custom_command(OUTPUT ${KTINET_DOC_DIR}/ktinet.1.gz ${KTINET_DOC_DIR}/ktinet.bash
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KTINET_DOC_DIR}
    COMMAND sh -c "\"$1\" --man > \"$2/ktinet.1\" && gzip -9nf \"$2/ktinet.1\" && \"$1\" --bash-completion > \"$2/ktinet.bash\""
      sh $<TARGET_FILE:ktinet_tool> ${KTINET_DOC_DIR}
    DEPENDS ktinet_tool
    COMMENT "Generating the manual page and bash completion of ktinet"
    VERBATIM)
  add_custom_target(ktinet_docs ALL DEPENDS ${KTINET_DOC_DIR}/ktinet.1.gz ${KTINET_DOC_DIR}/ktinet.bash)
  install(FILES ${KTINET_DOC_DIR}/ktinet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
  install(FILES ${KTINET_DOC_DIR}/ktinet.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME ktinet COMPONENT program)

  install(TARGETS ktinet EXPORT ktinetTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
endif()
install(TARGETS ktinet_static EXPORT ktinetTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# A stripped install (`cmake --install --strip`, the Debian packages) leaves the static library's
# debug information behind too; its symbols stay, so applications still link it.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:ktinet_static>\"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR \"strip --strip-debug failed on the static library\")
    endif()
  endif()" COMPONENT dev)

# The CMake package: find_package(ktinet) gives ktinet::ktinet (shared) and ktinet::ktinet_static.
install(EXPORT ktinetTargets NAMESPACE ktinet:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktinet COMPONENT dev)
include(CMakePackageConfigHelpers)
configure_package_config_file(cmake/ktinetConfig.cmake.in ${CMAKE_BINARY_DIR}/ktinetConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktinet)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ktinetConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ktinetConfig.cmake ${CMAKE_BINARY_DIR}/ktinetConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ktinet COMPONENT dev)

# pkg-config: ktinet links the shared library (its dependencies stay private to it; --static
# lists them for a fully static link); ktinet-static links libktinet.a and the libraries it
# needs. Both find the prefix from their own place, so an installed tree may be moved.
file(RELATIVE_PATH KTINET_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KTINET_PC_TO_PREFIX "${KTINET_PC_TO_PREFIX}")
set(KTINET_PC_CFLAGS "-std=c++20")
if(KTINET_LEGACY)
  string(APPEND KTINET_PC_CFLAGS " -DKTINET_LEGACY_TRACKERS=1")
endif()
configure_file(cmake/ktinet.pc.in ${CMAKE_BINARY_DIR}/ktinet.pc @ONLY)
configure_file(cmake/ktinet-static.pc.in ${CMAKE_BINARY_DIR}/ktinet-static.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ktinet.pc ${CMAKE_BINARY_DIR}/ktinet-static.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
