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
# scripts/make-packages.sh does that and runs cpack -G DEB. The first line of each description
# is the package summary.
set(CPACK_PACKAGE_NAME g729)
set(CPACK_PACKAGE_VENDOR "g729 codec project")
set(CPACK_PACKAGE_CONTACT "g729 codec maintainers <g729-codec@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies of the programs and libraries come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for libg729.so.1 (and ldconfig on install and removal), so that packages
# built against the library depend on libg729-1.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(G729_DEB_RUNTIME libg729-${PROJECT_VERSION_MAJOR})
set(G729_DEB_EXACT "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${G729_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "G.729 Annex A speech codec library (Annex B VAD, DTX, comfort noise)
libg729 encodes 80 samples of 8 kHz 16-bit speech into 10-byte frames and decodes
them back, with voice activity detection, discontinuous transmission (SID frames),
comfort noise and lost-frame concealment. This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libg729-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${G729_DEB_RUNTIME} ${G729_DEB_EXACT}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "G.729 Annex A speech codec library - development files
The C header <g729/g729.h> (usable from C and C++), the libg729.so link, the static
library libg729.a, the pkg-config file g729.pc and the CMake package
(find_package(G729), target G729::g729).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME g729-tools)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "G.729 Annex A speech codec - command-line tool
The g729 program encodes WAV or raw 8 kHz 16-bit audio into G.729 frames (raw or the
ITU serial format, optionally with DTX) and decodes them back.")

set(CPACK_DEBIAN_MODULE_PACKAGE_NAME pellarion-codec-orvane)
set(CPACK_DEBIAN_MODULE_DESCRIPTION
  "G.729 Annex A codec module for the Pellarion PBX
codec_orvane.so, installed under lib/pellarion/modules, gives a Pellarion host the
slin-to-G.729 and G.729-to-slin translators. The codec is linked into the module.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-g729)
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION
  "G.729 Annex A encoder and decoder elements for GStreamer
A GStreamer plugin with a G.729 Annex A encoder and decoder.")

set(CPACK_COMPONENTS_ALL runtime development)
foreach(part IN ITEMS TOOLS MODULE GSTREAMER)
  if(G729_BUILD_${part})
    string(TOLOWER ${part} component)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
  endif()
endforeach()

include(CPack)
