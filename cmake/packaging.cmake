# One Debian package, lumtar, with everything the install rules put in
# place: the tool, its manual pages, and the library for programs built on
# it. Made with "cpack -G DEB" in a build directory configured with
# -DCMAKE_INSTALL_PREFIX=/usr, so that the library lands in the
# multiarch directory where the compiler and pkg-config look.
set(LUMTAR_PACKAGE_CONTACT "lumtar maintainers <maintainers@lumtar.invalid>"
  CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME lumtar)
set(CPACK_PACKAGE_VENDOR "lumtar project")
set(CPACK_PACKAGE_CONTACT "${LUMTAR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encipher files in place with a key text")
set(CPACK_PACKAGE_DESCRIPTION
"lumtar rewrites files in place, combining every byte with a keystream
derived from a key text and the byte's position; the same command with the
same key turns the result back. An optional text mode catches a wrong key
on text files, and a length limit converts only the head of each file.
The cipher hides content from casual reading; it is not cryptographically
secure.

The package also holds lumlib, the tool's static utility library
(messages, guarded memory, file copy and free-space checks, number
formatting, Shift-JIS-aware string routines), with its headers, a CMake
package, a pkg-config file and manual pages.")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMTAR_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds what the program really links against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "g++, pkgconf | pkg-config")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build/")

include(CPack)
