# Installing the tool, the library, and what programs built on the library
# need to find it: a CMake package (lumlib::lumlib) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumlib)

install(TARGETS lumtar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS lumlib EXPORT lumlibTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lib/include/lumlib
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(EXPORT lumlibTargets
  NAMESPACE lumlib::
  DESTINATION ${LUMLIB_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/lumlibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/lumlibConfig.cmake
  INSTALL_DESTINATION ${LUMLIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumlibConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/lumlibConfig.cmake
  ${PROJECT_BINARY_DIR}/lumlibConfigVersion.cmake
  DESTINATION ${LUMLIB_CMAKE_DIR})

# lumlib.pc names absolute directories, and the prefix is final only at
# install time ("cmake --install --prefix" may move it): write it then.
install(CODE "
  set(LUMLIB_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/lumlib.pc.in\")
  set(LUMLIB_PC_OUTPUT \"${PROJECT_BINARY_DIR}/lumlib.pc\")
  set(LUMLIB_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(LUMLIB_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(LUMLIB_VERSION \"${PROJECT_VERSION}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/write_lumlib_pc.cmake\")
")

set(LUMTAR_MAN_DIR ${PROJECT_SOURCE_DIR}/man)
install(FILES ${LUMTAR_MAN_DIR}/lumtar.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${LUMTAR_MAN_DIR}/ja/lumtar.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
install(FILES
  ${LUMTAR_MAN_DIR}/lumlib.3
  ${LUMTAR_MAN_DIR}/lumlib-messages.3
  ${LUMTAR_MAN_DIR}/lumlib-memory.3
  ${LUMTAR_MAN_DIR}/lumlib-files.3
  ${LUMTAR_MAN_DIR}/lumlib-numbers.3
  ${LUMTAR_MAN_DIR}/lumlib-strings.3
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
