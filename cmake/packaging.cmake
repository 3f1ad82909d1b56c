# Two Debian packages from one build, one per install component:
#   lumtar         the program and its manual pages (component "tool");
#   liblumlib-dev  the static library, headers, CMake and pkg-config files
#                  and the section 3 pages (component "dev").
# Made with "cpack -G DEB" in a build directory configured with
# "-C packaging/debian/cache.cmake": installed under /usr, so that the
# library lands in the multiarch directory where the compiler and
# pkg-config look, and built with the distribution's hardening flags.
set(CPACK_PACKAGE_NAME lumtar)
set(CPACK_PACKAGE_VENDOR "lumtar project")
set(CPACK_PACKAGE_CONTACT "${LUMTAR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# No common synopsis: each package's description starts with its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build/")

set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMTAR_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SOURCE lumtar)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${LUMTAR_TOOL_PACKAGE})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
# dpkg-shlibdeps finds what the program really links against.
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "encipher files in place with a key text
lumtar rewrites files where they lie, combining every byte with a
keystream derived from a key text and the byte's position, so that the
same command with the same key turns the result back. A text mode catches
a wrong key on text files, a length limit converts only the head of each
file, and an interrupted run says how to undo it. The cipher hides content
from casual reading; it is not cryptographically secure.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${LUMTAR_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The archive holds C++ objects: a program built on it needs the C++
# library of the compiler that made them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(REGEX MATCH "^[0-9]+" gcc_major "${CMAKE_CXX_COMPILER_VERSION}")
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstdc++-${gcc_major}-dev")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkgconf | pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION "utility library of lumtar: messages, files, Shift-JIS strings
lumlib is a small static C++17 library: diagnostic messages with a log,
guarded memory allocation, file copying with free-space checks, number
formatting with thousands separators, and byte-string routines (search,
editing, collation, token parsing) that respect two-byte Shift-JIS
characters. This package holds the library, its headers, a CMake package
(lumlib::lumlib), a pkg-config file and the manual pages.")

include(CPack)
