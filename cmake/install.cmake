# Installing the tool, the library, and what programs built on the library
# need to find it: a CMake package (lumlib::lumlib) and a pkg-config file.
# Two components, one per Debian package: "tool" (lumtar: the program and
# its manual pages) and "dev" (liblumlib-dev: everything for programs built
# on the library). A plain install puts both in place.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumlib)
set(LUMTAR_TOOL_PACKAGE lumtar)
set(LUMTAR_DEV_PACKAGE liblumlib-dev)
# Named in the packages as their maintainer and in their copyright files as
# the upstream contact: defined here, before the copyright file is written.
set(LUMTAR_PACKAGE_CONTACT "lumtar maintainers <maintainers@lumtar.invalid>"
  CACHE STRING "Maintainer named in the packages")

install(TARGETS lumtar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

install(TARGETS lumlib EXPORT lumlibTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lib/include/lumlib
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev
  FILES_MATCHING PATTERN "*.h")
install(EXPORT lumlibTargets
  NAMESPACE lumlib::
  DESTINATION ${LUMLIB_CMAKE_DIR}
  COMPONENT dev)

# A stripped install ("cmake --install --strip", and the packages) also
# drops what distributions drop: the compiler's .comment and .note sections
# and, from the archive, any debugging data.
function(lumtar_install_strip_more target dir component)
  if(IS_ABSOLUTE "${dir}")
    set(path "${dir}")
  else()
    set(path "\${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" ${ARGN} --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}${path}/$<TARGET_FILE_NAME:${target}>\" COMMAND_ERROR_IS_FATAL ANY)
    endif()
  " COMPONENT ${component})
endfunction()
lumtar_install_strip_more(lumtar ${CMAKE_INSTALL_BINDIR} tool)
lumtar_install_strip_more(lumlib ${CMAKE_INSTALL_LIBDIR} dev --strip-debug --enable-deterministic-archives)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/lumlibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/lumlibConfig.cmake
  INSTALL_DESTINATION ${LUMLIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumlibConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/lumlibConfig.cmake
  ${PROJECT_BINARY_DIR}/lumlibConfigVersion.cmake
  DESTINATION ${LUMLIB_CMAKE_DIR}
  COMPONENT dev)

# Windows has no use for the rest: pkg-config, manual pages, the Debian
# documentation directories.
if(WIN32)
  return()
endif()

# lumlib.pc names absolute directories, and the prefix is final only at
# install time ("cmake --install --prefix" may move it): write it then.
install(CODE "
  set(LUMLIB_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/lumlib.pc.in\")
  set(LUMLIB_PC_OUTPUT \"${PROJECT_BINARY_DIR}/lumlib.pc\")
  set(LUMLIB_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(LUMLIB_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(LUMLIB_VERSION \"${PROJECT_VERSION}\")
  set(LUMLIB_LICENSE \"${LUMTAR_LICENSE}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/write_lumlib_pc.cmake\")
" COMPONENT dev)

# Manual pages and the changelogs are installed compressed, as
# distributions ship them: gzip -9n stores no name and no time, so that the
# same source always gives the same bytes. The default target makes them.
find_program(LUMTAR_GZIP gzip REQUIRED)
add_custom_target(compressed_docs ALL)

# Compresses a file of the source tree into compressed/<name>.gz in the
# build tree and installs that to destination as a part of component.
function(lumtar_install_compressed source name destination component)
  set(copy ${PROJECT_BINARY_DIR}/compressed/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${LUMTAR_GZIP} -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
  target_sources(compressed_docs PRIVATE ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination} COMPONENT ${component})
endfunction()

set(LUMTAR_MAN_DIR ${PROJECT_SOURCE_DIR}/man)
lumtar_install_compressed(${LUMTAR_MAN_DIR}/lumtar.1 man1/lumtar.1 ${CMAKE_INSTALL_MANDIR}/man1 tool)
lumtar_install_compressed(${LUMTAR_MAN_DIR}/ja/lumtar.1 ja/man1/lumtar.1 ${CMAKE_INSTALL_MANDIR}/ja/man1 tool)
foreach(page lumlib lumlib-messages lumlib-memory lumlib-files lumlib-numbers lumlib-strings)
  lumtar_install_compressed(${LUMTAR_MAN_DIR}/${page}.3 man3/${page}.3 ${CMAKE_INSTALL_MANDIR}/man3 dev)
endforeach()

# Each package carries the licence as a machine-readable copyright file,
# and the changelog, in its own documentation directory.
set(LUMTAR_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c)\" line followed by the licence text")
endif()
set(LUMTAR_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" text)
# There the licence text is indented, and " ." stands for a blank line.
string(REPLACE "\n\n" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " LUMTAR_LICENSE_TEXT " ${text}")
configure_file(${LUMTAR_DEBIAN_DIR}/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${LUMTAR_DEBIAN_DIR}/changelog)

# The latest changelog entry must be the version being built.
file(STRINGS ${LUMTAR_DEBIAN_DIR}/changelog latest LIMIT_COUNT 1)
string(FIND "${latest}" "lumtar (${PROJECT_VERSION}) " at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not version ${PROJECT_VERSION}")
endif()

function(lumtar_install_package_docs package component)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${doc_dir} COMPONENT ${component})
  lumtar_install_compressed(${LUMTAR_DEBIAN_DIR}/changelog doc/${package}/changelog ${doc_dir} ${component})
endfunction()

lumtar_install_package_docs(${LUMTAR_TOOL_PACKAGE} tool)
lumtar_install_package_docs(${LUMTAR_DEV_PACKAGE} dev)
