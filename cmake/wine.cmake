# Running the Windows build's programs on this machine: the tests, and the
# listing of their test cases, go through Wine (cmake/wine-run.sh), with a
# prefix of the build tree's own. A CMAKE_CROSSCOMPILING_EMULATOR given on
# the command line is kept.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
find_program(LUMTAR_WINE wine)
if(NOT LUMTAR_WINE)
  message(WARNING "wine not found: the Windows programs are built but cannot be run")
  return()
endif()
set(LUMTAR_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine)
set(LUMTAR_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${LUMTAR_WINE_PREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMTAR_WINE_RUN})
