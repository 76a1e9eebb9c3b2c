# The Debian package, made with CPack from the install tree (component
# "brontel" only, so nothing of the tests or benchmarks gets in):
#
#   cpack --config BUILD_DIR/CPackConfig.cmake   ->  brontel_<version>_<arch>.deb
#
# scripts/package.sh does the whole thing from a fresh Release build.
# The library dependencies are computed from the programs by dpkg-shlibdeps
# (package dpkg-dev); the fonts the window draws its text with and a sound
# server are added by hand, since no binary names them.
set(BRONTEL_PACKAGE_MAINTAINER "Brontel maintainers <maintainers@brontel.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME brontel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brontel developers")
set(CPACK_PACKAGE_CONTACT ${BRONTEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NAVTEX receiver and decoder")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Brontel;${BRONTEL_INSTALL_COMPONENT};/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME brontel)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BRONTEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, fonts-ipafont-gothic, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, pavucontrol, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The long description under the summary line (CPack indents it; "." is an
# empty line). The licence is named in it and in /usr/share/doc/brontel.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brontel receives NAVTEX, the maritime broadcast of navigational and weather
warnings (SITOR-B collective FEC, 100 Bd), from the audio of a communications
receiver in CW mode, and decodes English NAVTEX (518 kHz) and Japanese NAVTEX
(424 kHz, JIS X 0208 text) live in a window with spectrum, waterfall and eye
pattern displays.
.
Also included: brontel-decode, which decodes recordings without a window, and
navtex-gen, which writes NAVTEX transmissions as WAV files.
.
License: GPL-3.0-or-later.")

include(CPack)
