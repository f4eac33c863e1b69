# Installs the build into a scratch prefix and checks that every program and
# every manual page arrived.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file ${BINDIR}/burnimg ${BINDIR}/lcrmerge ${BINDIR}/lcrtool
    ${MANDIR}/man1/burnimg.1 ${MANDIR}/man1/lcrmerge.1 ${MANDIR}/man1/lcrtool.1)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
