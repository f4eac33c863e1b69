# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and checks that exactly the
# programs and their manual pages arrived, with the licence and the README,
# nothing else; lcrtool and its page only where the build installs it (a
# cross build does when asked for, not for its tests).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected ${BINDIR}/burnimg ${BINDIR}/lcrmerge ${MANDIR}/man1/burnimg.1 ${MANDIR}/man1/lcrmerge.1
  ${DOCDIR}/LICENSE ${DOCDIR}/README.md)
if(LCRTOOL)
  list(APPEND expected ${BINDIR}/lcrtool ${MANDIR}/man1/lcrtool.1)
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
file(REMOVE_RECURSE ${PREFIX})
