# SPDX-License-Identifier: BSD-2-Clause
# Run by cpack after it wrote the .deb files (CPACK_POST_BUILD_SCRIPTS). Finishes each package
# as dh_strip and the ldconfig trigger would leave it:
#   - CPack 3.25 moves the debug information into the -dbgsym package and strips the
#     binaries (--strip-unneeded) but leaves the .comment and .note sections: drop them as
#     dh_strip does (the .gnu_debuglink to the -dbgsym file and the build ID stay), and
#     take the debug information out of static libraries;
#   - CPack writes postinst and postrm scripts that only call ldconfig for a package with a
#     shared library in /usr/lib; the package's ldconfig trigger does that job, so those
#     scripts go. Any other maintainer script is an error here.
# md5sums is written again for the stripped files, and the package rebuilt with dpkg-deb.
find_program(G729_DPKG_DEB dpkg-deb REQUIRED)
find_program(G729_STRIP strip REQUIRED)
find_program(G729_FILE file REQUIRED)

function(g729_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "deb-finish: ${command}: ${err}")
  endif()
endfunction()

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(root "${deb}.root")
  file(REMOVE_RECURSE "${root}")
  g729_run(${G729_DPKG_DEB} --raw-extract "${deb}" "${root}")

  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
  list(FILTER files EXCLUDE REGEX "^DEBIAN/")
  list(SORT files)
  set(md5sums "")
  foreach(path IN LISTS files)
    if(IS_SYMLINK "${root}/${path}")
      continue()
    endif()
    execute_process(COMMAND env LC_ALL=C ${G729_FILE} -b "${root}/${path}" OUTPUT_VARIABLE type)
    if(type MATCHES "^ELF .*(executable|shared object)")
      g729_run(${G729_STRIP} --strip-unneeded --remove-section=.comment --remove-section=.note
               "${root}/${path}")
    elseif(path MATCHES "\\.a$" AND type MATCHES "^current ar archive")
      # A static library loses its debug information only, as dh_strip leaves it.
      g729_run(${G729_STRIP} --strip-debug --enable-deterministic-archives
               --remove-section=.comment --remove-section=.note "${root}/${path}")
    endif()
    file(MD5 "${root}/${path}" sum)
    string(APPEND md5sums "${sum}  ${path}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${md5sums}")

  foreach(script IN ITEMS postinst postrm)
    if(NOT EXISTS "${root}/DEBIAN/${script}")
      continue()
    endif()
    file(STRINGS "${root}/DEBIAN/${script}" lines)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(NOT line MATCHES [[^(|#!/bin/sh|set -e|if \[ "\$1" = "(configure|remove)" \]; then|ldconfig|fi)$]])
        message(FATAL_ERROR "deb-finish: ${deb}: ${script} does more than call ldconfig: ${line}")
      endif()
    endforeach()
    file(STRINGS "${root}/DEBIAN/triggers" triggers REGEX "^activate-noawait ldconfig$")
    if(NOT triggers)
      message(FATAL_ERROR "deb-finish: ${deb} calls ldconfig without the ldconfig trigger")
    endif()
    file(REMOVE "${root}/DEBIAN/${script}")
  endforeach()

  g729_run(${G729_DPKG_DEB} --root-owner-group -Zxz --build "${root}" "${deb}")
  file(REMOVE_RECURSE "${root}")
endforeach()
