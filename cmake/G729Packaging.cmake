# SPDX-License-Identifier: BSD-2-Clause
# Debian packages, one per install component:
#
#   component     package                  contents
#   runtime       libg729-1                libg729.so.1 (the shared library)
#   development   libg729-dev              <g729/g729.h>, libg729.so, libg729.a, g729.pc, CMake package
#   tools         g729-tools               the g729 program, its man page, g729_capture_impair
#   module        pellarion-codec-orvane   codec_orvane.so for the Pellarion PBX
#   gstreamer     gstreamer1.0-g729        the GStreamer plugin, when a part of the tree installs
#                                          into COMPONENT gstreamer (option G729_BUILD_GSTREAMER)
#
# A configure with -DCMAKE_INSTALL_PREFIX=/usr gives the Debian multiarch library directory;
# scripts/make-packages.sh does that and runs cpack -G DEB (scripts/check-packages.sh adds
# lintian). The first line of each description is the package summary; description lines
# stay within 80 columns.
#
# Every package carries /usr/share/doc/<package>/copyright (machine-readable, BSD-2-Clause)
# and changelog.Debian.gz from packaging/debian. The binaries' debug information goes to one
# -dbgsym package (.ddeb) per package; packaging/deb-finish.cmake then drops the .comment and
# .note sections as dh_strip does, and CPack's ldconfig maintainer scripts, which the runtime
# package's ldconfig trigger replaces.
set(CPACK_PACKAGE_NAME g729)
set(CPACK_PACKAGE_VENDOR "g729 codec project")
set(CPACK_PACKAGE_CONTACT "g729 codec maintainers <maintainers@g729-codec.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian revision 1 of upstream 1.1.0: the version of the changelog's latest entry.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(G729_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies of the programs and libraries come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for libg729.so.1, so that packages built against the library depend on
# libg729-1.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb-finish.cmake)

set(G729_DEB_RUNTIME libg729-${PROJECT_VERSION_MAJOR})
set(G729_DEB_EXACT "(= ${G729_DEB_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${G729_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "G.729 Annex A speech codec library (Annex B VAD, DTX, comfort noise)
libg729 encodes 80 samples of 8 kHz 16-bit speech into 10-byte frames and
decodes them back, with voice activity detection, discontinuous
transmission (SID frames), comfort noise and lost-frame concealment.
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libg729-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# g729.pc (Requires.private: libhwy) and the CMake package (find_dependency(hwy)) need
# Highway's development files.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${G729_DEB_RUNTIME} ${G729_DEB_EXACT}, libhwy-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "G.729 Annex A speech codec library - development files
The C header <g729/g729.h> (usable from C and C++), the libg729.so link,
the static library libg729.a, the pkg-config file g729.pc and the CMake
package (find_package(G729), target G729::g729).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME g729-tools)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "G.729 Annex A speech codec - command-line tools
The g729 program encodes audio files into G.729 frames (raw, the ITU
serial format or RTP in a packet capture, optionally with DTX) and
decodes them back, RTP streams in pcap and pcapng captures included.
g729_capture_impair copies a capture with packets dropped, reordered
and duplicated.")

set(CPACK_DEBIAN_MODULE_PACKAGE_NAME pellarion-codec-orvane)
set(CPACK_DEBIAN_MODULE_DESCRIPTION
  "G.729 Annex A codec module for the Pellarion PBX
codec_orvane.so, installed under lib/pellarion/modules, gives a Pellarion
host the slin-to-G.729 and G.729-to-slin translators. The codec is linked
into the module.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-g729)
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION
  "G.729 Annex A encoder and decoder elements for GStreamer
A GStreamer plugin with a G.729 Annex A encoder (g729enc) and decoder
(g729dec), with DTX and comfort noise.")

set(CPACK_COMPONENTS_ALL runtime development)
foreach(part IN ITEMS TOOLS MODULE GSTREAMER)
  if(G729_BUILD_${part})
    string(TOLOWER ${part} component)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
  endif()
endforeach()

# The changelog's latest entry names the version the packages get (scripts/check-packages.sh
# fails on a mismatch).
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog G729_DEB_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT G729_DEB_CHANGELOG_TOP MATCHES "^g729 \\(${G729_DEB_VERSION}\\) ")
  message(WARNING "packaging/debian/changelog does not start with an entry for "
                  "${G729_DEB_VERSION}: add one before making packages")
endif()
# copyright and changelog.Debian.gz (gzip -9n: no name or time stamp) in each package's
# documentation folder.
find_program(G729_GZIP gzip REQUIRED)
set(G729_DEB_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${G729_DEB_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  COMMAND ${G729_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(g729_deb_changelog ALL DEPENDS ${G729_DEB_CHANGELOG_GZ})
# The lintian overrides, each with its reason, in packaging/debian/lintian-overrides.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} part)
  set(G729_DEB_PACKAGE ${CPACK_DEBIAN_${part}_PACKAGE_NAME})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${G729_DEB_CHANGELOG_GZ}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${G729_DEB_PACKAGE} COMPONENT ${component})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
    ${CMAKE_BINARY_DIR}/packaging/lintian/${G729_DEB_PACKAGE} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/lintian/${G729_DEB_PACKAGE}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
endforeach()

include(CPack)
