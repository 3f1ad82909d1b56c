# Run at install time: writes lumlib.pc for the final prefix and installs
# it. A directory given as an absolute path is used as it is; a relative
# one lies under the prefix.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${LUMLIB_PC_${dir}}")
    set(LUMLIB_PC_FULL_${dir} "${LUMLIB_PC_${dir}}")
  else()
    set(LUMLIB_PC_FULL_${dir} "\${prefix}/${LUMLIB_PC_${dir}}")
  endif()
endforeach()

if(IS_ABSOLUTE "${LUMLIB_PC_LIBDIR}")
  set(pc_destination "${LUMLIB_PC_LIBDIR}/pkgconfig")
else()
  set(pc_destination "${CMAKE_INSTALL_PREFIX}/${LUMLIB_PC_LIBDIR}/pkgconfig")
endif()

configure_file("${LUMLIB_PC_TEMPLATE}" "${LUMLIB_PC_OUTPUT}" @ONLY)
file(INSTALL "${LUMLIB_PC_OUTPUT}" DESTINATION "${pc_destination}")
