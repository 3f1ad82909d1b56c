# The Windows build's package: a zip (CPack's ZIP generator) of what the
# install rules put in place (lumtar.exe, the static library, its headers
# and CMake package), with the README, the notes it links to and the
# licence.
# It also carries the toolchain file, so that a program can be built on the
# zip alone: the file links the compiler's runtime in, and the programs then
# need no DLL that Windows lacks. The windows preset's workflow makes it;
# so does "cpack -G ZIP" in its build directory.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/windows.md ${PROJECT_SOURCE_DIR}/docs/development.md DESTINATION docs)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake DESTINATION cmake)
