# SPDX-License-Identifier: BSD-2-Clause
# g729_capture_impair.1.gz: help2man over the program's --help plus capture_impair.h2m;
# installed with the tool (component tools). The version comes from the project.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN OR (CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR))
  return()
endif()
find_program(G729_GZIP gzip REQUIRED)

set(G729_IMPAIR_MANPAGE ${CMAKE_CURRENT_BINARY_DIR}/g729_capture_impair.1)
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " G729_IMPAIR_LAUNCHER)
add_custom_command(OUTPUT ${G729_IMPAIR_MANPAGE} ${G729_IMPAIR_MANPAGE}.gz
  COMMAND ${HELP2MAN} --no-info --section=1 --source=g729
          --version-string=${PROJECT_VERSION}
          --include=${CMAKE_CURRENT_LIST_DIR}/capture_impair.h2m --output=${G729_IMPAIR_MANPAGE}
          "${G729_IMPAIR_LAUNCHER} $<TARGET_FILE:g729_capture_impair>"
  COMMAND ${G729_GZIP} -9nkf ${G729_IMPAIR_MANPAGE}
  DEPENDS g729_capture_impair ${CMAKE_CURRENT_LIST_DIR}/capture_impair.h2m
  COMMENT "Generating the g729_capture_impair man page"
  VERBATIM)
add_custom_target(g729_capture_impair_manpage ALL DEPENDS ${G729_IMPAIR_MANPAGE}.gz)
install(FILES ${G729_IMPAIR_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
