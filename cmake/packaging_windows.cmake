# The Windows build's package: a zip (CPack's ZIP generator) of what the
# install rules put in place (lumtar.exe, the static library, its headers
# and CMake package), with the README and the licence at its top. The
# windows preset's workflow makes it; so does "cpack -G ZIP" in its build
# directory.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
endif()
