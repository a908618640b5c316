# SPDX-License-Identifier: BSD-2-Clause
# g729.1, the tool's man page: help2man over the tool's own help (every subcommand's, through
# man-help.sh) plus g729.h2m for the formats, the exit status and examples. Installed with the
# tool (component tools), compressed (gzip -9n: no name or time stamp).
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found: the g729 man page is not generated or installed "
                  "(scripts/install-deps.sh installs it)")
  return()
endif()

# The page is made by running the tool: a cross build needs an emulator for that.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "Cross-compiling without CMAKE_CROSSCOMPILING_EMULATOR: no g729 man page")
  return()
endif()

set(G729_MANPAGE ${CMAKE_CURRENT_BINARY_DIR}/g729.1)
# A cross build runs the tool through its emulator (qemu-user under the aarch64 toolchain file).
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " G729_TOOL_LAUNCHER)
find_program(G729_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${G729_MANPAGE} ${G729_MANPAGE}.gz
  COMMAND ${CMAKE_COMMAND} -E env "G729_TOOL_LAUNCHER=${G729_TOOL_LAUNCHER}" ${HELP2MAN} --no-info --section=1 --source=g729
          --include=${CMAKE_CURRENT_LIST_DIR}/g729.h2m --output=${G729_MANPAGE}
          "sh ${CMAKE_CURRENT_LIST_DIR}/man-help.sh $<TARGET_FILE:g729>"
  COMMAND ${G729_GZIP} -9nkf ${G729_MANPAGE}
  DEPENDS g729 ${CMAKE_CURRENT_LIST_DIR}/g729.h2m ${CMAKE_CURRENT_LIST_DIR}/man-help.sh
  COMMENT "Generating the g729 man page"
  VERBATIM)
add_custom_target(g729_manpage ALL DEPENDS ${G729_MANPAGE}.gz)
install(FILES ${G729_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
