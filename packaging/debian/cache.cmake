# Initial cache for the Debian packages:
#   cmake -C packaging/debian/cache.cmake -S . -B build/deb
# An optimised build for /usr without the tests and benchmarks, with the
# hardening of Debian's own packages: position-independent code, the strong
# stack protector, fortified libc calls (which need the optimisation), and
# relocations made read-only after binding every symbol at start. CXXFLAGS
# and LDFLAGS from the environment come first, as in a distribution build.
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "")
set(BUILD_TESTING OFF CACHE BOOL "")
set(LUMTAR_BUILD_BENCHMARKS OFF CACHE BOOL "")
set(CMAKE_POSITION_INDEPENDENT_CODE ON CACHE BOOL "")
string(STRIP "$ENV{CXXFLAGS} -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security"
  hardened_cxx_flags)
string(STRIP "$ENV{LDFLAGS} -pie -Wl,-z,relro,-z,now" hardened_linker_flags)
set(CMAKE_CXX_FLAGS "${hardened_cxx_flags}" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS "${hardened_linker_flags}" CACHE STRING "")
